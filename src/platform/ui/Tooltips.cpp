#include "platform/ui/Tooltips.h"

#include <QApplication>
#include <QEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

namespace {
// Longer than this, a plain tooltip is wrapped.
constexpr qsizetype kLongTip = 80;
}  // namespace

void Tooltips::install() {
    static Tooltips* filter = nullptr;
    if (filter || !qApp) return;
    filter = new Tooltips;
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
}

bool Tooltips::eventFilter(QObject* watched, QEvent* e) {
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (e->type() == QEvent::ToolTipChange) {
        const QString tip = widget->toolTip();
        if (tip.size() > kLongTip && !Qt::mightBeRichText(tip))
            widget->setToolTip(Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal));
    } else if (e->type() == QEvent::Show && widget->isWindow() &&
               widget->windowType() != Qt::ToolTip && QToolTip::isVisible()) {
        QToolTip::hideText();
    }
    return false;
}
