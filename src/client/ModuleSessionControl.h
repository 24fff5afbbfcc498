#pragma once

#include "client/SessionControl.h"

// The program's session control: it stands for the remote desktop client of the session module
// (libveskora-session.so in the program directory) and loads the module when the first setting
// or call reaches it, that is when a session is prepared. The session window loaded at start
// gets none of it, so an idle panel maps none of the remote desktop libraries. The module's
// control fills this widget and takes its keyboard focus; its events and its state are this
// control's. Once its session has ended the module's control goes, and with the last of them
// the module: a setting or call after that starts afresh.
//
// A module that cannot be loaded raises VbError 429 with the loader's reason.
class ModuleSessionControl : public SessionControl
{
    Q_OBJECT

public:
    explicit ModuleSessionControl(QWidget *parent = nullptr);

    // The module's file; tests point it elsewhere. Empty: the program directory's.
    static QString &ModulePath();
    // Whether the module stays mapped once loaded: only under AddressSanitizer, whose leak
    // report at exit could neither name nor suppress frames of a module gone by then.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool ModuleStays = true;
#else
    static constexpr bool ModuleStays = false;
#endif

    void setServer(const QString &value) override { control().setServer(value); }
    QString Server() const override { return control().Server(); }
    void setUserName(const QString &value) override { control().setUserName(value); }
    QString UserName() const override { return control().UserName(); }
    void setDesktopWidth(qint32 value) override { control().setDesktopWidth(value); }
    qint32 DesktopWidth() const override { return control().DesktopWidth(); }
    void setDesktopHeight(qint32 value) override { control().setDesktopHeight(value); }
    qint32 DesktopHeight() const override { return control().DesktopHeight(); }
    void Connect() override { control().Connect(); }
    void setFullScreen(qint32 value) override { control().setFullScreen(value); }
    qint32 FullScreen() const override { return control().FullScreen(); }
    void setBitmapPeristence(qint32 value) override { control().setBitmapPeristence(value); }
    qint32 BitmapPeristence() const override { return control().BitmapPeristence(); }
    void setCompress(qint32 value) override { control().setCompress(value); }
    qint32 Compress() const override { return control().Compress(); }
    void setPerformanceFlags(qint32 value) override { control().setPerformanceFlags(value); }
    qint32 PerformanceFlags() const override { return control().PerformanceFlags(); }
    void setRedirectDrives(bool value) override { control().setRedirectDrives(value); }
    bool RedirectDrives() const override { return control().RedirectDrives(); }
    void setRedirectPorts(bool value) override { control().setRedirectPorts(value); }
    bool RedirectPorts() const override { return control().RedirectPorts(); }
    void setRedirectPrinters(bool value) override { control().setRedirectPrinters(value); }
    bool RedirectPrinters() const override { return control().RedirectPrinters(); }
    void setRedirectSmartCards(bool value) override { control().setRedirectSmartCards(value); }
    bool RedirectSmartCards() const override { return control().RedirectSmartCards(); }
    void setDisplayConnectionBar(bool value) override { control().setDisplayConnectionBar(value); }
    bool DisplayConnectionBar() const override { return control().DisplayConnectionBar(); }
    void setEnableAutoReconnect(bool value) override { control().setEnableAutoReconnect(value); }
    bool EnableAutoReconnect() const override { return control().EnableAutoReconnect(); }
    void setClearTextPassword(const QString &value) override { control().setClearTextPassword(value); }
    // Without a session there is nothing to tell, and no reason to load the module.
    void NotifyRedirectDeviceChange(quint32 wParam, qint32 lParam) override;
    void Disconnect() override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    SessionControl &control() const;

    mutable SessionControl *m_control = nullptr;
};
