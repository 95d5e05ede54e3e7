// Export marker of the OrvaCore library: the library is built with hidden visibility,
// and only what carries ORVACORE_API is exported.
#pragma once

#define ORVACORE_API __attribute__((visibility("default")))
