// The main window's preview panel: shown or hidden, and the start of the current row's
// content in it.
#include "Umain.h"

#include <QSplitter>
#include <QTableView>
#include <algorithm>

#include "FileListModel.h"
#include "PreviewPanel.h"
#include "UmainShared.h"

namespace restovo {

using namespace umain;

bool TFrmFRMain::PreviewVisible() const { return !pnlpreview->isHidden(); }

void TFrmFRMain::SetPreviewVisible(bool visible) {
  pnlpreview->setVisible(visible);
  if (visible && spltree->sizes().value(2) < pnlpreview->minimumSizeHint().width()) {
    QList<int> sizes = spltree->sizes();
    const int wanted = pnlpreview->sizeHint().width();
    sizes[1] = std::max(0, sizes[1] - wanted);
    sizes[2] = wanted;
    spltree->setSizes(sizes);
  }
  UpdateActionState();
  // The row already chosen shows at once.
  if (visible && lstFile->currentIndex().isValid()) lstFileItemClick(lstFile->currentIndex().row());
}

void TFrmFRMain::btnprvClick() { SetPreviewVisible(!PreviewVisible()); }

void TFrmFRMain::lstFileItemClick(int row) {
  TFileInfo* record = FileModel->Item(row);
  if (!record || record->IsFolder || !PreviewVisible()) return;
  try {
    ShowPreview(record);
  } catch (const std::exception&) {
    // A record that cannot be read leaves the panel as it was.
  }
}

void TFrmFRMain::ShowPreview(TFileInfo* record) {
  // While a scan runs its records are being made and freed (a deep scan behind its early
  // results leaves those alone); while a restore runs the worker builds the same records'
  // cluster chains.
  if (!Helper || !record || (IsBusy() && !DeepBehind)) return;
  constexpr std::int64_t kPreviewLimit = 10 * 1024 * 1024;
  const std::int64_t limit = std::clamp<std::int64_t>(record->Size, 0, kPreviewLimit);
  const QString ext = TPreviewPanel::PreviewExtension(QString::fromStdString(record->Name));
  std::vector<std::byte> content;
  if (!Helper->ReadToMemory(record, content, limit)) return;
  pnlpreview->ShowContent(content, ext);
}

}  // namespace restovo
