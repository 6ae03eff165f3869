#pragma once
// plcburn-cli speaks UTF-8 on every system: its arguments arrive as UTF-8
// (app/common/utf8_command_line.h) and what it prints (paths among it) goes out as UTF-8.

namespace plcburn {

// A Windows console shows what is printed as UTF-8 (elsewhere nothing to do).
void UseUtf8Console();

}  // namespace plcburn
