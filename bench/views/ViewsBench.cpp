// restovo-views-bench [ROWS]: how long the file list takes to rebuild, sort and tick a
// view of many found files (a million by default), with the list shown in a window on
// the offscreen platform. One tab-separated line per step: step, milliseconds.
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <cstdio>
#include <random>

#include "FileListModel.h"
#include "records/TypesDefine.h"

using namespace restovo;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;

  // A volume's worth of records: folders of 100 files each, random sizes, times, verdicts.
  TFileInfoStore store;
  std::mt19937_64 random(20261210);
  TFileInfo* root = store.New();
  root->Name = "card.img/";
  root->IsFolder = true;
  TFileItems items;
  items.reserve(static_cast<std::size_t>(rows));
  TFileInfo* folder = nullptr;
  for (long i = 0; i < rows; ++i) {
    if (i % 100 == 0) {
      folder = store.New();
      folder->Name = "DCIM" + std::to_string(i / 100);
      folder->IsFolder = true;
      folder->Parent = root;
    }
    TFileInfo* f = store.New();
    f->Name = "IMG_" + std::to_string(random() % 1000000) + (i % 3 ? ".JPG" : ".mov");
    f->Size = static_cast<std::int64_t>(random() % 50000000);
    f->LastWriteTime = 133000000000000000ull + random() % 10000000000000000ull;
    f->State = static_cast<std::int32_t>(random() % 4);
    f->Parent = folder;
    items.push_back(f);
  }

  TFileListModel model;
  QTableView view;
  view.setModel(&model);
  view.verticalHeader()->setDefaultSectionSize(26);
  view.verticalHeader()->hide();
  view.resize(800, 500);
  view.show();
  QCoreApplication::processEvents();

  auto step = [&view](const char* name, const auto& work) {
    QElapsedTimer t;
    t.start();
    work();
    view.viewport()->repaint();
    std::printf("%s\t%lld\n", name, static_cast<long long>(t.elapsed()));
    std::fflush(stdout);
  };
  step("rebuild", [&] { model.SetItems(items); });
  step("sort by name", [&] { model.SortBy(TFileListModel::colName, false); });
  step("sort by size", [&] { model.SortBy(TFileListModel::colSize, true); });
  step("sort by date", [&] { model.SortBy(TFileListModel::colDate, true); });
  step("sort by path", [&] { model.SortBy(TFileListModel::colPath, true); });
  step("tick all", [&] { model.CheckAll(); });
  step("invert ticks", [&] { model.InvertChecks(); });
  step("rebuild again", [&] { model.SetItems(items); });
  return 0;
}
