// Writes the language files the program carries into the language folder at start, and takes
// the folder away at the end when no other running program still uses it.
#pragma once

#include "platform/Fd.h"

#include "EmbeddedStore.h"

#include <string>

class TfrmStrRes {
  public:
    TfrmStrRes();  // FormCreate
    ~TfrmStrRes(); // FormDestroy
    TfrmStrRes(const TfrmStrRes&) = delete;
    TfrmStrRes& operator=(const TfrmStrRes&) = delete;

    TSkinStore SkinStore1;

    // The name of the lock file that every user of the folder holds shared.
    static constexpr const char* LockName = ".in-use";

  private:
    void FormCreate();
    void FormDestroy();
    platform::TFd FLock;
    std::string FDir;
};
