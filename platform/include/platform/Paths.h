// Paths as callers write them, and where they lead on Linux.
//
// `\` and `/` are both separators. A path that starts with a drive letter ("E:\a\b",
// "E:") is resolved through the drive resolver that the volume layer installs; any other
// path is a Linux path ("/home/me\OrvaDesktop.ini" is /home/me/OrvaDesktop.ini). A run
// of separators counts as one ("/\OrvaDesktop.ini" is /OrvaDesktop.ini). "E:name",
// with no separator after the colon, is an ordinary relative name. The prefixes "\\?\"
// and "\\.\" are taken off a drive-letter path ("\\?\E:\a" is E:\a); other paths with
// these prefixes (volume GUID paths, devices) resolve to nothing. In a drive-letter path
// "." and ".." are resolved as Windows resolves them, ".." at the volume's root staying
// there, so that such a path never leads out of its volume ("E:\..\etc" is E:\etc).
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace orva::platform
{
// What a drive-letter path leads to.
struct DrivePath
{
    enum class Kind
    {
        Mounted,       // linuxPath is the file in the mounted volume
        VolumeInternal // not mounted: look up `insidePath` ("/a/b") in the volume itself
    };
    Kind kind = Kind::Mounted;
    std::string linuxPath;
    char letter = 0;
    std::string insidePath;
};

// Resolves "X:" plus the rest of the path (already with '/' separators, starting with
// '/' or empty). Returns nothing when the letter is not assigned. The letter is in upper
// case. May be called from any thread.
using DriveResolver = std::optional<DrivePath> (*)(char letter, std::string_view rest);
void SetDriveResolver(DriveResolver resolver);

// UTF-16 to UTF-8 and back (lossless; invalid units become U+FFFD).
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);

// Normalises separators and, for drive-letter paths, asks the drive resolver.
// Nothing when the path is a drive-letter path that no volume answers.
std::optional<DrivePath> ResolvePath(std::u16string_view path);

// The Linux path of an ordinary (non-drive-letter) path, or of a drive-letter path on a
// mounted volume; nothing otherwise.
std::optional<std::string> ToLinuxPath(std::u16string_view path);

// $XDG_CONFIG_HOME/orva and $XDG_STATE_HOME/orva (defaults ~/.config/orva and
// ~/.local/state/orva; a relative value is ignored, as XDG says), created with mode 0700
// when missing. A folder that cannot be created is still returned: opening a file in it
// then fails.
std::string ConfigFolder();
std::string StateFolder();

// The process's current directory, as a UTF-16 text without a trailing separator
// (except "/" itself); empty, with the last error set, when it cannot be read.
std::u16string CurrentDirectory();
} // namespace orva::platform
