#pragma once

#include <QList>
#include <QObject>

class QRadioButton;
class QWidget;

namespace pixavant {

// Makes Tab into a group of option buttons land on its selected option, as in other desktop
// programs, instead of on the first option: only the selected option (or, when none is selected
// or it is disabled, the first enabled one) takes the focus by Tab. The arrow keys still move
// between the options. Follows every change of selection and enabled state, from code too.
class OptionGroupFocus : public QObject {
  public:
    // The option buttons that are children of group; owned by the group.
    static OptionGroupFocus* install(QWidget* group);

    // The option that Tab reaches.
    QRadioButton* tabStop() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit OptionGroupFocus(QWidget* group);
    void update();

    QList<QRadioButton*> options_;
};

}  // namespace pixavant
