// SPDX-License-Identifier: MIT
// What the shared library exports: everything is hidden unless marked, so
// that only the public API becomes part of the ABI.
#pragma once

#define CORVALEN_API __attribute__((visibility("default")))
// Members of an exported class that are the library's own business.
#define CORVALEN_LOCAL __attribute__((visibility("hidden")))
