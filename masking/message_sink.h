// Every message the masking command shows to the user goes through
// ShowMessage. Each platform links its own definition: a modal message box in
// the Windows module, standard output in the console runner, a recorder in
// the tests. `text` is a NUL-terminated code page 932 string; the call returns
// once the user has seen (dismissed) the message.
#pragma once

namespace masking {

void ShowMessage(const char* text);

}  // namespace masking
