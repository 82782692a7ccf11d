#pragma once

// Xlib's own declaration of its connection type, so that headers can name it without
// pulling in Xlib's macros (None, Bool, Status, ...), which break other libraries' headers.
typedef struct _XDisplay Display;
