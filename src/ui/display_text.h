#pragma once

#include <string>
#include <string_view>

namespace tavro {

// A text as a window or message box must receive it: in the ANSI code page. Engine texts mix
// encodings: paths the engine formats itself are ANSI already, while server texts and the
// standard library's file-system errors (under MinGW) carry UTF-8. Every well-formed UTF-8
// sequence is converted to its ANSI character ('?' when the code page has none); every other
// byte is kept, as it is ANSI already. With UTF-8 as the ANSI code page nothing changes.
std::string displayText(std::string_view text);

}  // namespace tavro
