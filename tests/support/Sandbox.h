// Gives each test a fresh private temporary folder ($TMPDIR) and user configuration folder, and
// a scripted message box, and takes them away afterwards.
#pragma once

#include "ScriptedMessageBox.h"
#include "lang/StoredLanguages.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace testsupport {

// Writes a file; the folder must exist.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Runs a shell command and returns its standard output.
std::string Shell(const std::string& command);

class TSandbox : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Root; // the folder that holds everything of this test, ending with '/'
    std::string Temp; // the program's private temporary folder, ending with '/'
    std::unique_ptr<TScriptedMessageBox> Boxes;
};

// A sandbox whose language folder holds the stored files, with English chosen: log lines and
// messages then read as the English file writes them.
class TLangSandbox : public TSandbox {
  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    std::unique_ptr<TfrmStrRes> FStore;
};

// An upgrade object whose image path a test can set, as the package step would.
template <class T> class TWithImage : public T {
  public:
    void SetImage(const std::string& path) { this->FImagePath = path; }
    const std::string& Oem() const { return this->FOEMName; }
};

} // namespace testsupport
