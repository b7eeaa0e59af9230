#include "core/desktop.h"

TMsgResult THeadlessDesktop::DefaultAnswer(unsigned buttons) {
  if ((buttons & mbDefaultNo) && (buttons & mbNo)) return TMsgResult::No;
  if (buttons & mbOK) return TMsgResult::OK;
  if (buttons & mbYes) return TMsgResult::Yes;
  if (buttons & mbCancel) return TMsgResult::Cancel;
  if (buttons & mbNo) return TMsgResult::No;
  return TMsgResult::None;
}

TMsgResult THeadlessDesktop::ShowMessage(const TMessageBox& box) {
  const TMsgResult answer = DefaultAnswer(box.Buttons);
  Boxes.push_back({box, answer});
  return answer;
}
