#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class QWidget;

// Created first and alive for the whole run: starts the log, registers the default settings and
// opens what the program was given.
class BVApplicationController : public QObject
{
    Q_OBJECT
public:
    explicit BVApplicationController(QObject *parent = nullptr);
    ~BVApplicationController() override;

    static BVApplicationController *sharedController();

    void openFiles(const QStringList &files);
    void applicationDidFinishLaunching(const QStringList &files);

private:
    std::vector<std::unique_ptr<QWidget>> m_windows;
};
