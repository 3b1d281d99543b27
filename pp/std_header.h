// The standard header: the definitions and command rules every program gets
// before its own text (USE, SEEK, REPLACE, INDEX ON, SET ... and the rest),
// carried inside the program so that nothing has to be found on disk.
#pragma once

namespace xb::pp {

// The header's text (directives only).
const char* standardHeaderText();

// The name its diagnostics carry.
constexpr const char* kStandardHeaderName = "<standard header>";

}  // namespace xb::pp
