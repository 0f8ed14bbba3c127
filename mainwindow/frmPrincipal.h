#pragma once

#include <QMainWindow>

class Runtime;

// The composition window (placeholder until the window lands).
class frmPrincipal final : public QMainWindow
{
    Q_OBJECT

public:
    explicit frmPrincipal(Runtime &runtime, QWidget *parent = nullptr);
    bool load();

private:
    Runtime &m_rt;
};
