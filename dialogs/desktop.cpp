#include "dialogs/desktop.h"

#include <QDesktopServices>

namespace {

class RealDesktop final : public Desktop {
public:
    bool open(const QUrl& address) override { return QDesktopServices::openUrl(address); }
};

RealDesktop realDesktop;
Desktop* current = nullptr;

}  // namespace

Desktop& desktop() {
    return current ? *current : realDesktop;
}

void setDesktop(Desktop* replacement) {
    current = replacement;
}
