// The kinds of message box, shared by the box itself and the caption lookup.
#pragma once

namespace restovo {

enum TMsgKind { mkWarning = 0, mkError = 1, mkInformation = 2, mkConfirm = 3 };

}  // namespace restovo
