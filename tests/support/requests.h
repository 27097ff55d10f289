// What the engine asks of the operator, as the front ends' tests hand it to their boxes and
// choosers: the overwrite question, and the chooser of a user-data file.
#pragma once

#include "transfer/operator.h"

namespace morva::testing {

// Yes/No, with No the default button.
inline Message overwriteQuestion() {
  Message m;
  m.text = "File x already exists !\nDo you want overwrite the file ?";
  m.caption = "Warning";
  m.icon = Icon::Question;
  m.buttons = Buttons::YesNo;
  m.secondIsDefault = true;
  return m;
}

// To read into (a new file may be named) or to send from (the file must exist).
inline FileRequest userDataRequest(bool forReading) {
  FileRequest r;
  r.title = forReading ? "Choose file to write into :" : "Choose file with data :";
  r.filterDescription = "User data (*.usr)";
  r.filterPattern = "*.usr;*.bin";
  r.defaultExtension = "usr";
  r.mustExist = !forReading;
  r.createPrompt = forReading;
  return r;
}

}  // namespace morva::testing
