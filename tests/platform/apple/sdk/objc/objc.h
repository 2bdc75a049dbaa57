// The Objective-C basics the declarations below rely on: BOOL and its values, nil.
#pragma once

#include <stdint.h>

// BOOL is bool on arm64 Macs and signed char on Intel ones; clang reports which one the target
// uses, so code that mixes the two up fails the check here too.
#if defined(__OBJC_BOOL_IS_BOOL) && __OBJC_BOOL_IS_BOOL
typedef bool BOOL;
#else
typedef signed char BOOL;
#endif

#define YES __objc_yes
#define NO __objc_no

#ifndef nil
#define nil nullptr
#endif
