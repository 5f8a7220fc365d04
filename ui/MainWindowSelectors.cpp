#include "ui/MainWindow.h"

#include <functional>

#include <QComboBox>

#include "access/NamespaceQueries.h"
#include "ui/MainWindowParts.h"
#include "ui/SelectorCombo.h"

namespace dsc::ui {

using namespace window;

namespace {

// `longName` gives the control system's own name of an entry (Tango's, where
// the lists hold short names), shown as its tool tip.
void FillList(QComboBox& combo, const std::vector<std::string>& names, int count,
              const std::function<std::string(const std::string&)>& longName) {
  QStringList items;
  items.reserve(count);
  for (int i = 0; i < count && i < static_cast<int>(names.size()); ++i)
    items << FromLatin1(names[i]);
  combo.addItems(items);
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    const std::string name = longName(names[static_cast<size_t>(i)]);
    if (!name.empty() && name != names[static_cast<size_t>(i)])
      combo.setItemData(i, FromLatin1(name), Qt::ToolTipRole);
  }
}

}  // namespace

// A name typed rather than chosen may be the control system's own long
// name (a Tango server or device name, in any case): it stands for the
// listed name the library finds for it.
std::string Vesker::contextText() const {
  const QString typed = DeviceContextList->currentText();
  std::string context = ToLatin1(typed), server, device;
  if (DeviceContextList->findText(typed) < 0) lib_->FindNames(context, server, device);
  return context;
}
std::string Vesker::serverText() const {
  const QString typed = DeviceServerList->currentText();
  std::string context = contextText(), server = ToLatin1(typed), device;
  if (DeviceServerList->findText(typed) >= 0 || !lib_->FindNames(context, server, device))
    return ToLatin1(typed);
  return server;
}
std::string Vesker::deviceText() const {
  const QString typed = DeviceNameList->currentText();
  std::string context = contextText(), server = serverText(), device = ToLatin1(typed);
  if (DeviceNameList->findText(typed) >= 0 || !lib_->FindNames(context, server, device))
    return ToLatin1(typed);
  return device;
}

void Vesker::Form_Load() {
  Counted busy(queries_);
  grid_->SelectRow(0);
  grid_->SelectCol(0);
  grid_->SetColumnWidthTwips(0, 2000);
  grid_->SetText(" Action ");
  grid_->SelectCol(1);
  grid_->SetColumnWidthTwips(1, 4000);
  grid_->SetText(" Results ");
  grid_->SyncCurrentCell();

  std::string path = options_.databasePath;
  if (!path.empty() && path.back() != '/') path += '/';
  // Before the first list: a library keeps the short names it gives there.
  lib_->setDatabaseDirectory(path);

  if (const int16_t code = GetContextList(*lib_, contextNames, contextCount); code != 0) {
    // The placeholders must not pass for names: the lists stay empty and the
    // commands ask for a name until one is typed.
    DeviceContextList->setEditText(QString());
    DeviceServerList->setEditText(QString());
    setStatus(QString("The control system did not list its contexts (code %1: %2). Type a "
                      "context, server and device to test them, or restart the checker once the "
                      "control system answers.")
                  .arg(code)
                  .arg(FromLatin1(GetErrorString(*lib_, code))));
    return;
  }
  DeviceContextList->clear();
  FillList(*DeviceContextList, contextNames, contextCount,
           [this](const std::string& c) { return lib_->LongNameOf(c, "", "").name; });
  // Choosing from code runs the same handler as the operator's choice. An
  // empty list has nothing to choose, and the cascade ends there.
  if (contextCount > 0) {
    DeviceContextList->setCurrentIndex(0);
    DeviceContextList_Click();
  }

  session_->DatabasePath = path;

  sources_->fillInProcNames();
  StoredConfigCombo->clear();
  const auto& configs = session_->configs;
  for (int i = 0;
       i < configs.StoredConfigCount && i < static_cast<int>(configs.StoredConfigs.size()); ++i)
    StoredConfigCombo->addItem(FromLatin1(configs.StoredConfigs[i].Description));
  markUnknownConfigurations();
  if (StoredConfigCombo->count() > 0) StoredConfigCombo->setCurrentIndex(0);
  showConfigurationNote();
}

void Vesker::DeviceContextList_Click() {
  Counted busy(queries_);
  std::vector<std::string> names;
  int16_t count = 0;
  // A failed query leaves both lists as they were.
  if (GetServerList(*lib_, contextText(), names, count) != 0) return;
  serverNames = std::move(names);
  serverCount = count;
  DeviceServerList->clear();
  const std::string context = contextText();
  FillList(*DeviceServerList, serverNames, serverCount,
           [&](const std::string& s) { return lib_->LongNameOf(context, s, "").name; });
  if (serverCount > 0) {
    DeviceServerList->setCurrentIndex(0);
    DeviceServerList_Click();
  }
}

void Vesker::DeviceServerList_Click() {
  Counted busy(queries_);
  DeviceNameList->clear();
  int16_t count = 0;
  if (GetDeviceNameList(*lib_, serverText(), deviceNames, count) != 0) return;
  const std::string context = contextText(), server = serverText();
  FillList(*DeviceNameList, deviceNames, count,
           [&](const std::string& d) { return lib_->LongNameOf(context, server, d).name; });
  if (count > 0) DeviceNameList->setCurrentIndex(0);
  // A new server answered: its information is fetched on next use. The
  // session is the run's while one goes on the worker: cleared there,
  // between its commands.
  calls_.Run([this] { session_->serverInfoText.clear(); });
}

}  // namespace dsc::ui
