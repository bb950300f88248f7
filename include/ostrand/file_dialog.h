// The Windows 64-bit OPENFILENAMEA request layout (152 bytes), as the module
// hands it to GetSaveFileNameA / GetOpenFileNameA. Where the platform has no
// common dialog library, the program hosting the module exports functions of
// these names taking this record.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef struct OstrandOpenFileName {
  uint32_t lStructSize;
  uint32_t pad0;
  void* hwndOwner;
  void* hInstance;
  const char* lpstrFilter;
  char* lpstrCustomFilter;
  uint32_t nMaxCustFilter;
  uint32_t nFilterIndex;
  char* lpstrFile;
  uint32_t nMaxFile;
  uint32_t pad1;
  char* lpstrFileTitle;
  uint32_t nMaxFileTitle;
  uint32_t pad2;
  const char* lpstrInitialDir;
  const char* lpstrTitle;
  uint32_t Flags;
  uint16_t nFileOffset;
  uint16_t nFileExtension;
  const char* lpstrDefExt;
  intptr_t lCustData;
  void* lpfnHook;
  const char* lpTemplateName;
  void* pvReserved;
  uint32_t dwReserved;
  uint32_t FlagsEx;
} OstrandOpenFileName;

typedef int32_t (*FileDialogFn)(OstrandOpenFileName* request);

}  // extern "C"

static_assert(sizeof(OstrandOpenFileName) == 152);
static_assert(offsetof(OstrandOpenFileName, lpstrFilter) == 24);
static_assert(offsetof(OstrandOpenFileName, nFilterIndex) == 44);
static_assert(offsetof(OstrandOpenFileName, lpstrFile) == 48);
static_assert(offsetof(OstrandOpenFileName, nMaxFile) == 56);
static_assert(offsetof(OstrandOpenFileName, lpstrInitialDir) == 80);
static_assert(offsetof(OstrandOpenFileName, Flags) == 96);
static_assert(offsetof(OstrandOpenFileName, nFileExtension) == 102);
static_assert(offsetof(OstrandOpenFileName, lpstrDefExt) == 104);
static_assert(offsetof(OstrandOpenFileName, pvReserved) == 136);
static_assert(offsetof(OstrandOpenFileName, FlagsEx) == 148);
