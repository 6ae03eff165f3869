#pragma once
// Scanned labels typed into the terminal a station runs in (a barcode scanner is a keyboard):
// each line of standard input, read on a thread of its own. While it reads, the terminal does
// not echo, so the scanner's keys do not break the station's live lines; the echo is restored
// at the end.

#include <functional>
#include <memory>
#include <string>

namespace plcburn {

class TerminalScans {
 public:
  using OnLine = std::function<void(const std::string& line)>;
  // Reads standard input only when it is a terminal; otherwise does nothing.
  explicit TerminalScans(OnLine onLine);
  ~TerminalScans();
  TerminalScans(const TerminalScans&) = delete;
  TerminalScans& operator=(const TerminalScans&) = delete;

 private:
  struct Reader;
  std::shared_ptr<Reader> reader_;
};

}  // namespace plcburn
