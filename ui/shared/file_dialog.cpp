#include "ui/shared/file_dialog.h"

#include <commdlg.h>

#include "ui/dialog/view_hooks.h"

bool askFileName(HWND owner, wchar_t* path, DWORD size, const FileQuestion& question) {
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = question.filter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = size;
  dialog.lpstrDefExt = question.extension;
  dialog.lpstrTitle = question.title;
  dialog.Flags =
      OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | question.flags;
  const BOOL picked = question.save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!picked && CommDlgExtendedError() != 0)
    showError(L"The file dialog could not be shown (error %lu).", CommDlgExtendedError());
  return picked != FALSE;
}
