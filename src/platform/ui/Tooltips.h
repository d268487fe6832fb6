#pragma once
// Two rules for every tooltip of the application:
// - a plain tooltip is shown on one line, however long: a long one is turned into rich text
//   as it is set, which the tooltip wraps at about 80 characters;
// - a window that opens (a dialog, a message box) hides the tooltip shown, which would
//   otherwise stay on top of it.

#include <QObject>

class Tooltips : public QObject {
  public:
    // Applies the rules to the whole application from now on.
    static void install();

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
};
