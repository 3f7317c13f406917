// Windows' own check of the signed deliverables: WinVerifyTrust with the
// Authenticode policy, no UI and no revocation check, once the test
// certificate authority that signed them (make_signed.sh) is a trusted root
// of this user. Each answer is shown as the HRESULT it is.
#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "win_files.h"
#include "win_text.h"

namespace {
const char* const kFiles[] = {"QV_InternalTool.exe", "QV_PLUGIN.dll"};

std::string hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

std::string signed_copy(const char* name, bool changed) {
  return wine_path(QV_SIGNED_DIR) + (changed ? "\\changed\\" : "\\") + name;
}

// Adds the test authority to the current user's root store, once; "" on
// success, else what failed.
std::string trust_test_authority() {
  static std::string failure = "not tried";
  if (failure != "not tried") return failure;
  const std::string der = read_file(wine_path(QV_SIGNED_DIR "/pki/ca.der"), "");
  if (der.empty()) return failure = "cannot read " + wine_path(QV_SIGNED_DIR "/pki/ca.der");
  if (!CertAddEncodedCertificateToSystemStoreA("Root", reinterpret_cast<const BYTE*>(der.data()),
                                               static_cast<DWORD>(der.size())))
    return failure = "CertAddEncodedCertificateToSystemStoreA(Root) failed with " + hex(GetLastError());
  return failure = "";
}

// WinVerifyTrust's answer for the file, as an HRESULT.
std::string verify(const std::string& path) {
  std::wstring wide = widen(path);
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = wide.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  HWND no_user = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG result = WinVerifyTrust(no_user, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(no_user, &action, &data);
  return hex(static_cast<DWORD>(result));
}

class SignedFiles : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(trust_test_authority(), ""); }
};
}  // namespace

TEST_F(SignedFiles, AreTrusted) {
  // The test certificates are valid for 30 days from the making of the
  // signed copies; a build folder older than that answers CERT_E_EXPIRED.
  const std::string expired = hex(static_cast<DWORD>(CERT_E_EXPIRED));
  for (const char* name : kFiles) {
    const std::string answer = verify(signed_copy(name, false));
    const char* hint = answer == expired
                           ? " (the test certificates have expired: build again after removing " QV_SIGNED_DIR ")"
                           : "";
    EXPECT_EQ(answer, "0x00000000") << name << hint;
  }
}

TEST_F(SignedFiles, WithOneByteOfCodeChangedHaveABadDigest) {
  for (const char* name : kFiles)
    EXPECT_EQ(verify(signed_copy(name, true)), hex(static_cast<DWORD>(TRUST_E_BAD_DIGEST))) << name;
}

TEST_F(SignedFiles, TheUnsignedBuiltFilesHaveNoSignature) {
  for (const char* path : {QV_TOOL_EXE, QV_PLUGIN_DLL})
    EXPECT_EQ(verify(wine_path(path)), hex(static_cast<DWORD>(TRUST_E_NOSIGNATURE))) << path;
}
