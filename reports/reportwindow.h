#pragma once

#include <QWidget>

// What the report windows share: a window of their own to a screen reader, Tab leaving
// their grids, and their size and place kept in the reports' settings, always brought
// back within the screen.
class ReportWindow : public QWidget {
    Q_OBJECT
public:
    // name keys the window's place in the settings.
    ReportWindow(QString name, QWidget* parent);

protected:
    // Called once the window's controls are made: grids give up Tab and fill their
    // width, the saved place
    // (else one centred over the parent) is taken within the screen.
    void settle();
    void hideEvent(QHideEvent* event) override;

private:
    void savePlace() const;

    QString name_;
    bool settled_ = false;
};
