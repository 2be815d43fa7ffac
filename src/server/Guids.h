#pragma once
// The generated interface declarations and identifiers of the type library.

#include <windows.h>
#include <ocidl.h>

#include "NibWordLib.h"
