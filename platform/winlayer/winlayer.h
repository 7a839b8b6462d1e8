// The window layer of the GUI programs in one include.
#pragma once
#include "winlayer/window.h"
#include "winlayer/str.h"
#include "winlayer/gdi.h"
#include "winlayer/module.h"
