#include "client/frmClient.h"

#include <QCloseEvent>

// Not built yet.
frmClient::frmClient(QWidget *parent) : QWidget(parent) {}
frmClient::~frmClient() = default;
void frmClient::Form_Load() {}
void frmClient::Form_Activate() {}
void frmClient::Form_Unload() {}
void frmClient::timControl_Timer() {}
QString frmClient::PanelText(int) const { return {}; }
void frmClient::setPanelText(int, const QString &) {}
bool frmClient::event(QEvent *e) { return QWidget::event(e); }
void frmClient::closeEvent(QCloseEvent *e) { e->ignore(); }
void frmClient::showEvent(QShowEvent *e) { QWidget::showEvent(e); }
bool frmClient::eventFilter(QObject *o, QEvent *e) { return QWidget::eventFilter(o, e); }
void frmClient::buildControls() {}
