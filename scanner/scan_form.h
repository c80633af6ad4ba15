// frmSearch, tovraa's only window: tick drives, "Scan Now" searches them for every name of the
// virus list, the results list shows what was found and deleted.
#pragma once
#include <functional>
#include <string>

#include "scanner/search_engine.h"
#include "shared/forms.h"

namespace tovra::scanner {

class ScanForm : public forms::Form {
public:
    enum : int {
        txtNamed = 101,
        txtLookIn,
        cmdFind,
        cmdExit,
        LstResults,
        StatusBar,
        frmDrive,
        optA = 110,
        optB,
        optC,
        optD,
        optE,
        optF,
    };
    static const forms::FormSpec& Layout();
    static constexpr wchar_t kCaption[] = L"Tovra ScanVirus 1.0";

    explicit ScanForm(std::wstring listPath);
    bool Load();  // creates the window with drive C ticked and shows it

    void cmdFind_Click();  // the scan
    void cmdExit_Click();  // closes the window; during a scan, stops it first
    void Form_Resize();

    bool scanning() const { return scanning_; }
    bool ended() const { return ended_; }
    SearchEngine& engine() { return engine_; }

    // Called before each search with the name and the drive root (tests watch the scan here).
    std::function<void(const std::wstring& name, const std::wstring& root)> onSearch;

protected:
    void OnCommand(int id, int notifyCode) override;
    void OnResize() override;
    bool OnClose() override;

private:
    void End();

    std::wstring listPath_;
    SearchEngine engine_;
    bool scanning_ = false;
    bool stopRequested_ = false;
    bool closeRequested_ = false;
    bool ended_ = false;
};

}  // namespace tovra::scanner
