#include "ui/MainWindow.h"

#include <algorithm>

#include <QComboBox>
#include <QRadioButton>
#include <QSettings>
#include <QSplitter>

#include "ui/SelectorCombo.h"

namespace dsc::ui {

void Vesker::restoreSettings() {
  QSettings s;
  s.beginGroup("window");
  if (s.contains("geometry")) restoreGeometry(s.value("geometry").toByteArray());
  if (s.contains("splitter")) {
    splitterState_ = s.value("splitter").toByteArray();
    gridSplitter->restoreState(splitterState_);
  }
  if (s.value("selected", false).toBool()) SelfTestOption1->setChecked(true);
  setGiveUpAfter(s.value("maxLinkFailures", 0).toInt());
  const QString config = s.value("configuration").toString();
  if (const int i = StoredConfigCombo->findText(config); !config.isEmpty() && i >= 0)
    StoredConfigCombo->setCurrentIndex(i);
  // The last selection comes back through the same cascade a click runs,
  // entry by entry, as long as the lists still hold it.
  const QString context = s.value("context").toString(), server = s.value("server").toString();
  const QString device = s.value("device").toString();
  if (const int i = DeviceContextList->findText(context); !context.isEmpty() && i >= 0) {
    if (DeviceContextList->currentText() != context) DeviceContextList->choose(i);
    if (const int j = DeviceServerList->findText(server); !server.isEmpty() && j >= 0) {
      if (DeviceServerList->currentText() != server) DeviceServerList->choose(j);
      if (!device.isEmpty()) DeviceNameList->setEditText(device);
    }
  }
  s.endGroup();
}

void Vesker::setGiveUpAfter(int failures) {
  // A run on the worker reads its options there: changed between its commands.
  calls_.Run([&] {
    RunOptions options = runner_->options();
    options.maxLinkFailures = std::clamp(failures, 0, 32767);
    runner_->setOptions(std::move(options));
  });
}

void Vesker::saveSettings() {
  QSettings s;
  s.beginGroup("window");
  s.setValue("geometry", saveGeometry());
  s.setValue("splitter", gridSplitter->saveState());
  s.setValue("selected", SelfTestOption1->isChecked());
  s.setValue("maxLinkFailures", runner_->options().maxLinkFailures);
  s.setValue("configuration", StoredConfigCombo->currentText());
  s.setValue("context", DeviceContextList->currentText());
  s.setValue("server", DeviceServerList->currentText());
  s.setValue("device", DeviceNameList->currentText());
  s.endGroup();
}

}  // namespace dsc::ui
