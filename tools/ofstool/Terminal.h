#pragma once
// The terminal a person at this run reads and answers on, wherever stdout and
// stderr were sent.
#include <cstdio>

namespace ofstool {

class Terminal {
 public:
  // The terminal questions are read from (stdin), else the one stderr shows; none without either.
  static Terminal OfThisRun();
  Terminal() = default;
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  std::FILE* Stream() const { return stream_; }  // nullptr: no terminal
  // What is written to `stream` already shows on this terminal.
  bool Shows(std::FILE* stream) const;
  // Nobody watches `stream` as it is written: a file or another device. A pipe's
  // reader may well show it on this terminal itself, so a pipe is not hidden.
  bool Hidden(std::FILE* stream) const;

 private:
  explicit Terminal(std::FILE* stream) : stream_(stream) {}
  std::FILE* stream_ = nullptr;
};

// Throws away what was typed on `in`, a terminal, before a question was shown: a "y" typed
// while the drive was still being identified must not answer a question about writing it.
void DiscardTypedAhead(std::FILE* in);

// A reply typed on `in` into line (as fgets), or false at its end. Before any drive is
// written, a stop signal ends the wait too, also one that came just before it.
bool ReadReplyLine(std::FILE* in, char* line, int size);

}  // namespace ofstool
