// The hosting service whose working copies the library treats as its own.
#pragma once

namespace korvane::svn {

// A working copy belongs to the hosting service when its repository root URL
// holds this text, compared byte for byte (letter case included).
inline constexpr char kHostingServiceFragment[] = "svn.halcyra.com/svn/";

}  // namespace korvane::svn
