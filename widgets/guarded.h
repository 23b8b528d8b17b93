#pragma once

#include <exception>

#include "store/error.h"
#include "widgets/messages.h"

// Runs one event handler. A failure ends the handler where it happened and is shown in
// the error box; what the handler had already done stays done.
template <class Handler>
void guarded(Handler&& handler) {
    try {
        handler();
    } catch (const store::Error& e) {
        messages().error(QString::fromStdString(e.what()));
    } catch (const std::exception& e) {
        messages().error(QString::fromLocal8Bit(e.what()));
    }
}
