#include "mainwindow/frmPrincipal.h"

#include "runtime/Runtime.h"

frmPrincipal::frmPrincipal(Runtime &runtime, QWidget *parent)
    : QMainWindow(parent)
    , m_rt(runtime)
{
}

bool frmPrincipal::load()
{
    show();
    return true;
}
