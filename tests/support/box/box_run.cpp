// Runs a program, shows the caption and text of every message box it opens,
// saves a picture of each box and answers it: used by the demo.
//   qv_box_run.exe <picture folder> <answers> <current directory> <program> [<arguments>]
// The program runs with the command line "<program>" followed directly by
// the arguments (which usually begin with a blank).
// answers: a comma list of ok, retry, cancel for the boxes in order; the
// last one repeats. Prints one block per box and the exit code.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "box_watcher.h"
#include "win_child.h"

namespace {
struct Run {
  std::vector<int> answers;
  std::string pictures;
};

int button_of(const std::string& word) {
  if (word == "retry") return IDRETRY;
  if (word == "cancel") return IDCANCEL;
  return IDOK;
}

const char* button_name(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDRETRY: return "Retry";
    default: return "?";
  }
}

// Prints the box and chooses its answer.
int answer_box(Run* run, int index, const BoxRecord& box, const char* picture) {
  int button = run->answers.empty()                            ? IDOK
               : index < static_cast<int>(run->answers.size()) ? run->answers[index]
                                                               : run->answers.back();
  // An answer the box does not offer would leave it open: take Cancel,
  // else its first button.
  bool offered = false;
  for (int id : box.buttons) offered = offered || id == button;
  if (!offered && !box.buttons.empty()) {
    button = box.buttons.front();
    for (int id : box.buttons) {
      if (id == IDCANCEL) button = IDCANCEL;
    }
  }
  printf("box %d\n  caption: %s\n  text:    %s\n  buttons:", index + 1, box.caption.c_str(), box.text.c_str());
  for (int id : box.buttons) printf(" %s", button_name(id));
  printf("%s\n  answer:  %s\n  picture: %s\n", box.topmost ? " (topmost)" : "", button_name(button), picture);
  fflush(stdout);
  return button;
}

// Pictures the box, then prints it and chooses its answer.
int answer_and_picture(void* context, int index, const BoxRecord& box) {
  Run* run = static_cast<Run*>(context);
  char picture[MAX_PATH];
  snprintf(picture, sizeof picture, "%s\\box-%02d.bmp", run->pictures.c_str(), index + 1);
  // Give the box time to paint before its picture is taken.
  Sleep(400);
  if (!box_save_bmp(box.window, picture)) snprintf(picture, sizeof picture, "(none: the screen could not be read)");
  return answer_box(run, index, box, picture);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: qv_box_run <picture folder> <answers> <directory> <program> [<arguments>]\n");
    return 2;
  }
  Run run;
  run.pictures = argv[1];
  std::string answers = argv[2];
  size_t start = 0;
  while (start <= answers.size()) {
    size_t comma = answers.find(',', start);
    if (comma == std::string::npos) comma = answers.size();
    if (comma > start) run.answers.push_back(button_of(answers.substr(start, comma - start)));
    start = comma + 1;
  }
  const std::string command_line = std::string("\"") + argv[4] + "\"" + (argc > 5 ? argv[5] : "");
  const ChildRun child = run_watched("", command_line, argv[3], answer_and_picture, &run, 60000);
  if (!child.started) {
    fprintf(stderr, "cannot start %s: error %lu\n", command_line.c_str(), child.start_error);
    return 3;
  }
  printf("%s: %s, exit code %lu, %d box(es)\n", child.ended ? "ended" : "ended by force after 60 s",
         command_line.c_str(), child.exit_code, static_cast<int>(child.boxes.size()));
  return child.ended ? 0 : 1;
}
