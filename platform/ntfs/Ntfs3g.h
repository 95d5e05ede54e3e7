// The libntfs-3g headers, included the one way they work from C++ next to our own
// Windows-shaped types.
//
// - libntfs-3g's headers expect a config.h; these HAVE_* macros stand in for the ones
//   they test (standard headers present on every Linux build).
// - They are C headers without extern "C".
// - They declare their own `BOOL` enumeration (with TRUE/FALSE), which would clash with
//   WinTypes.h's BOOL: it is renamed to `ntfs_bool` here, so both can be used in one
//   file. Code of ours that calls libntfs-3g passes `ntfs_bool` values where it asks for
//   a BOOL (ntfs_umount(volume, /*force=*/ntfs_bool(0)), ...).
// - Their min/max macros are removed again.
#pragma once

#include "platform/WinTypes.h"

#ifndef HAVE_STDINT_H
#define HAVE_STDINT_H 1
#endif
#ifndef HAVE_SYS_TYPES_H
#define HAVE_SYS_TYPES_H 1
#endif
#ifndef HAVE_STDIO_H
#define HAVE_STDIO_H 1
#endif
#ifndef HAVE_STDARG_H
#define HAVE_STDARG_H 1
#endif
#ifndef HAVE_STDDEF_H
#define HAVE_STDDEF_H 1
#endif
#ifndef HAVE_ENDIAN_H
#define HAVE_ENDIAN_H 1
#endif
#ifndef HAVE_BYTESWAP_H
#define HAVE_BYTESWAP_H 1
#endif
#ifndef HAVE_SYS_PARAM_H
#define HAVE_SYS_PARAM_H 1
#endif
#ifndef HAVE_TIME_H
#define HAVE_TIME_H 1
#endif
#ifndef HAVE_SYS_STAT_H
#define HAVE_SYS_STAT_H 1
#endif
#ifndef HAVE_CLOCK_GETTIME
#define HAVE_CLOCK_GETTIME 1
#endif

#define BOOL ntfs_bool
// layout.h names access rights GENERIC_READ and GENERIC_WRITE in an enumeration; our
// File.h has them as macros. Hide ours while libntfs-3g's headers are read.
#pragma push_macro("GENERIC_READ")
#pragma push_macro("GENERIC_WRITE")
#undef GENERIC_READ
#undef GENERIC_WRITE
extern "C"
{
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/mft.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
#undef BOOL
#pragma pop_macro("GENERIC_READ")
#pragma pop_macro("GENERIC_WRITE")
// support.h defines these as function-like macros, which break the C++ library.
#undef min
#undef max
