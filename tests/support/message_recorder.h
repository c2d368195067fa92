// Records the message boxes the runtime would show, instead of showing them. Each box is also
// written to stderr as one line, so a death test can match the box of a child process.
#pragma once

#include <string>
#include <vector>

namespace tambrel::test {

struct RecordedBox {
  std::string text;
  std::string caption;
  unsigned flags;
};

// Boxes recorded so far in this process (in order) and a way to start afresh.
std::vector<RecordedBox> recorded_boxes();
void clear_recorded_boxes();
// The answer the recorder gives (IDOK unless a test says otherwise).
void set_box_answer(int answer);
void install_message_recorder();

}  // namespace tambrel::test
