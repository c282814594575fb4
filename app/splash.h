#pragma once

// The window shown while the program starts.

#include <QWidget>

class TSplashForm final : public QWidget {
    Q_OBJECT
public:
    explicit TSplashForm(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
