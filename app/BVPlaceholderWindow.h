#pragma once

#include <QMainWindow>

// The window shown for a file until the player document takes over: the picture area, the
// control strip and the menus, with the file's name and size.
class BVPlaceholderWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit BVPlaceholderWindow(const QString &location, QWidget *parent = nullptr);
};
