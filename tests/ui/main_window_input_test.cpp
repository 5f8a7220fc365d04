// The window while it runs and under the operator's hands: Stop, refused
// clicks, Link Error boxes, typed names, keys, wheel and tab order.
#include "tests/ui/WindowTest.h"

namespace dsc::ui::window_test {
namespace {

// Long descriptions are cut where they would push the rest out of sight, and
// show whole in their tool tip; Enter presses the focused button.
TEST_F(WindowTest, LongDescriptionsAreCutWithAToolTipAndEnterPressesTheFocusedButton) {
  const std::string action = "Pump pressure " + std::string(154, 'L');
  db.write("procedures.csv",
           "Description,FileName,Context\r\n" + std::string(165, 'C') + ",three.csv,LINAC\r\n");
  db.write("LINAC-VACUUM-1.csv", "Description,Property,Device,OutputSize,OutputFormat\r\n" +
                                     action + ",PRESSURE,PUMP-01,1,DOUBLE\r\n");
  Open();
  selected();
  window->resize(1000, 700);
  window->show();
  EXPECT_LT(window->minimumSizeHint().width(), 1000);
  button("Command2")->setFocus();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(button("Command2"), &enter);
  ASSERT_EQ(rows(), 1) << "Enter did not run the Specific Test";
  QApplication::processEvents();
  EXPECT_LE(table().columnWidth(0), table().viewport()->width() / 2 + 16);
  EXPECT_EQ(table().horizontalScrollBar()->value(), 0);
  EXPECT_EQ(table().model()->index(0, 0).data(Qt::ToolTipRole).toString().toStdString(),
            action + "\nvalue read: 2.5e-09");
}

// The selected server's run waits; clicks inside that wait are refused, and
// the refusal message goes once the run is over. Closing asks whether to stop.
TEST_F(WindowTest, ClicksDuringARunAreRefusedAndClosingOffersToStop) {
  Open();
  selected();
  choose("DeviceServerList", "RF-1");
  window->show();
  for (const bool stop : {false, true}) {
    confirmStop = [stop] { return stop; };
    // A refused click changes nothing but the message.
    duringWait = [this] {
      for (const char* button : {"Command1", "Command2", "Command4"}) {
        click(button);
        EXPECT_TRUE(label().startsWith("A test is running")) << button;
      }
      EXPECT_TRUE(button("StopButton")->isVisible() && button("StopButton")->isEnabled());
      EXPECT_FALSE(window->close());
    };
    click("Command2");
    EXPECT_FALSE(duringWait);
    EXPECT_FALSE(button("StopButton")->isEnabled());
    const std::string saved = report();
    EXPECT_EQ(saved.find(Vesker::kStoppedLine) != std::string::npos, stop);
    EXPECT_TRUE(Shows("Specific test commands from"));
    // Values at a glance: the tool tip carries the decoded values read and expected.
    EXPECT_EQ(table().model()->index(0, 0).data(Qt::ToolTipRole).toString(),
              "value read: 499.654\nvalue expected: 499.654");
  }
  // The window goes once the stopped run has ended.
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 1000));
}

// A synchronous access that does not return keeps the window alive: events
// (a timer here) are processed while it waits, and Stop ends the run after it.
TEST_F(WindowTest, StopEndsTheRunAfterABlockedAccess) {
  Open();
  selected();
  choose("DeviceServerList", "MAGNETS-1");  // two READs from its test file
  closed = true;
  int ticks = 0;
  QString progressWhileHeld;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    // Several events while the access is held.
    if (!closed || held == 0 || ++ticks < 3) return;
    progressWhileHeld = progress();
    click("StopButton");
    closed = false;
  });
  timer.start(10);
  click("Command2");
  timer.stop();
  EXPECT_EQ(progressWhileHeld, "0 of 2 done");
  // The held command ended as usual; the next one never started, and its row says so.
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(text(0, 1) + "|" + text(1, 0) + "|" + text(1, 1),
            "Success|Magnet mode|Not run : interrupted");
  EXPECT_EQ(progress(), "1 of 2 done, stopped");
}

// A run of 32767 accesses that each return at once still answers the window:
// Stop ends it within 200 ms (of the fake clock every read of which moves it
// on), the commands not run get their rows, and the next run is not stopped.
// Information asked meanwhile is answered between the run's commands, as
// when the window is idle.
TEST_F(WindowTest, ALongRunAnswersStopAndTheNextRunIsNotStopped) {
  std::string file = "Description,Property,Device,OutputSize,OutputFormat\r\n";
  for (int i = 0; i < 32767; ++i) file += "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n";
  db.write("LINAC-VACUUM-1.csv", file);
  Open();
  selected();
  clock.stepMs = 1;
  int64_t stoppedAt = 0;
  QString infoDuringRun;
  QTimer during;
  QObject::connect(&during, &QTimer::timeout, [&] {
    // Once commands run (the test's loading is a query of its own).
    if (stoppedAt > 0 || !progress().contains(" of 32767") || progress().startsWith("0 of")) return;
    click("Command3");
    infoDuringRun = label();
    stoppedAt = clock.MonotonicMs();
    click("StopButton");
  });
  during.start(1);
  click("Command2");
  during.stop();
  ASSERT_GT(stoppedAt, 0) << "no event was handled during the run";
  EXPECT_LE(clock.MonotonicMs() - stoppedAt, 200);
  click("Command3");
  EXPECT_FALSE(infoDuringRun.isEmpty());
  EXPECT_EQ(infoDuringRun, label());
  EXPECT_TRUE(progress().endsWith(" of 32767 done, stopped")) << progress().toStdString();
  ASSERT_EQ(rows(), 32767);
  EXPECT_EQ(text(32766, 0) + "|" + text(32766, 1), "Pump pressure|Not run : interrupted");
  click("Command2");
  EXPECT_EQ(progress(), "32767 of 32767 done");
}

// A server that does not answer: the first box keeps Retry as its default,
// later ones make Cancel All the default and say how many commands remain,
// so Enter gets the operator out in two presses, and every command still
// gets its row and report line.
TEST_F(WindowTest, EnterLeavesAServerThatDoesNotAnswerInTwoPresses) {
  boxes = true;
  OpenSilentVacuum(10);
  selected();
  QStringList seen;
  QTimer enter;
  QObject::connect(&enter, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen << box->defaultButton()->text().remove('&') + ": " + box->informativeText();
    if (seen.size() > 10) return box->button(QMessageBox::Cancel)->click();  // no endless test
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box, &key);
  });
  enter.start(2);
  click("Command2");
  enter.stop();
  EXPECT_EQ(seen.join(" | ").toStdString(),
            "Retry:  | Cancel All: VACUUM-1 has not answered 2 times in this run; 9 more "
            "command(s) of it remain. Cancel All runs them without asking again, each with its "
            "row and report line.");
  ASSERT_EQ(rows(), 10);
  for (int r = 0; r < 10; ++r) EXPECT_FALSE(text(r, 1).isEmpty()) << r;
  const std::string saved = report();
  size_t lines = 0;
  for (size_t at = 0; (at = saved.find("Pump pressure : ", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 10u);
}

// Only a choice from the list runs the cascade; typed names are read as typed.
// Where the library has long names, the lists show them as tool tips, and a
// long name typed into a list stands for its entry.
TEST_F(WindowTest, StandardTestOfTypedNamesColoursRowsAndOnlyAChoiceCascades) {
  Open();
  QComboBox& servers = combo("DeviceServerList");
  EXPECT_EQ(servers.itemData(servers.findText("VACUUM-1"), Qt::ToolTipRole), "linac/vacuum-1");
  EXPECT_FALSE(combo("DeviceContextList").itemData(0, Qt::ToolTipRole).isValid());
  Vacuum(sim->facility()).codes["CURRENT"] = 33;
  servers.setEditText("Linac/Vacuum-1");
  click("Command1");
  ASSERT_EQ(rows(), 7) << label().toStdString();
  for (int r = 0; r < 7; ++r)
    EXPECT_EQ(table().model()->index(r, 1).data(ResultsModel::kColorRole).toInt(),
              text(r, 0) == "CURRENT" ? 0xff0000 : 0);
  click("Command5");
  EXPECT_EQ(opened, std::vector{QString::fromStdString(window->session().report.reportFileName)});

  // Typed as the operator would, the server equal to an entry and ended with Return.
  combo("DeviceNameList").setEditText("QD-01");
  servers.lineEdit()->setText("MAGNETS-1");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(servers.lineEdit(), &enter);
  servers.clearFocus();
  EXPECT_EQ(combo("DeviceNameList").currentText(), "QD-01");
  click("Command1");
  ASSERT_GT(window->session().plan.TestPlanCount, 0);
  EXPECT_EQ(window->session().plan.TestPlan[0].Device, "QD-01");

  // A click in the popup does cascade.
  window->show();
  servers.showPopup();
  servers.view()->setCurrentIndex(servers.view()->model()->index(servers.findText("VACUUM-1"), 0));
  QApplication::sendEvent(servers.view(), &enter);
  EXPECT_EQ(combo("DeviceNameList").currentText(), "PUMP-01");

  // A device whose properties cannot be read does not run the old plan, and
  // the old rows go with it.
  combo("DeviceNameList").setEditText("NO-SUCH-DEVICE");
  click("Command1");
  EXPECT_TRUE(Shows("could not be read (code "));
  EXPECT_EQ(rows(), 0);
}

// Arrow keys and the wheel change a selector's entry as a choice from its
// list does: the lists below follow, and the test runs on what they show.
TEST_F(WindowTest, ArrowKeysAndTheWheelOnASelectorRunTheCascade) {
  Open();
  QComboBox& servers = combo("DeviceServerList");
  const auto key = [&](Qt::Key k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(&servers, &press);
  };
  const auto wheel = [&](int delta) {
    QWheelEvent turn(QPointF(5, 5), servers.mapToGlobal(QPointF(5, 5)), {}, QPoint(0, delta),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&servers, &turn);
  };
  struct Step {
    const char* name;
    std::function<void()> act;
    const char* server;
    const char* device;
  };
  const Step steps[] = {
      {"Down", [&] { key(Qt::Key_Down); }, "MAGNETS-1", "QF-01"},
      {"Down", [&] { key(Qt::Key_Down); }, "BPM-1", "BPM-01"},
      {"Up", [&] { key(Qt::Key_Up); }, "MAGNETS-1", "QF-01"},
      {"Up", [&] { key(Qt::Key_Up); }, "VACUUM-1", "PUMP-01"},
      {"wheel down", [&] { wheel(-120); }, "MAGNETS-1", "QF-01"},
      {"wheel down", [&] { wheel(-120); }, "BPM-1", "BPM-01"},
      {"wheel up", [&] { wheel(120); }, "MAGNETS-1", "QF-01"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(servers.currentText().toStdString(), step.server);
    EXPECT_EQ(combo("DeviceNameList").currentText().toStdString(), step.device);
  }
  click("Command1");
  EXPECT_EQ(rows(), window->session().plan.TestPlanCount);
  EXPECT_GT(rows(), 0);
  EXPECT_EQ(text(0, 1).left(7), "Success") << text(0, 1).toStdString();
}

// Tab visits the controls in the order the eye reads them (parts of a control,
// a combo box's line edit or a view's viewport, sit between it and the next),
// and every button and option has a mnemonic of its own. A report that loses
// lines says so once, after the run.
TEST_F(WindowTest, TabFollowsTheLayoutEveryButtonHasAMnemonicAndLostReportLinesShowOnce) {
  Open();
  reports.write("elsewhere", "kept\n");
  const std::string name = reports.file(std::to_string(clock.NowMs() / 1000) + ".txt");
  ASSERT_EQ(symlink(reports.file("elsewhere").c_str(), name.c_str()), 0);
  const auto chain = [&] {
    QStringList names;
    for (QWidget* w = window->findChild<QWidget*>("SelfTestOption0"); names.size() < 14;
         w = w->nextInFocusChain())
      if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
        names << w->objectName();
    return names.join(" ").toStdString();
  };
  const std::string order =
      "SelfTestOption0 StoredConfigCombo SelfTestOption1 DeviceContextList DeviceServerList "
      "DeviceNameList resultsGrid runSummary Command3 Command1 Command2 Command4 Command5 "
      "StopButton";
  EXPECT_EQ(chain(), order);
  // The run summary is built by the first configured run, in the same place.
  click("Command2");  // the three configured servers into one report
  EXPECT_EQ(chain(), order);
  EXPECT_EQ(label().count("Report incomplete: 0 of "), 1) << label().toStdString();
  QString keys;
  for (auto* b : window->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
    const QChar key = b->text().section('&', 1).front().toLower();
    EXPECT_FALSE(keys.contains(key)) << b->text().toStdString();
    keys += key;
  }
  EXPECT_EQ(keys.size(), 8);
}

TEST(GridColours, KeepTheirMeaningOnLightAndDarkPalettes) {
  const QColor darkBase(30, 30, 32), lightBase(Qt::white);
  for (const Rgb meaning : {kRed, kBlue}) {
    // Readable: far enough from the background in lightness on both.
    EXPECT_GT(ShownColor(meaning, true).lightness() - darkBase.lightness(), 100);
    EXPECT_GT(lightBase.lightness() - ShownColor(meaning, false).lightness(), 100);
    // Still the same hue family.
    EXPECT_LT(std::abs(ShownColor(meaning, true).hue() - ShownColor(meaning, false).hue()), 30);
  }
  // Black is the palette's own text colour, whatever the palette.
  EXPECT_FALSE(ShownColor(kBlack, true).isValid() || ShownColor(kBlack, false).isValid());
}

TEST(LinkErrorBox, ShowsTheTextAndAnswersWithTheButtonPressed) {
  dsc::testing::QtApp();
  using A = LinkErrorPrompt::Answer;
  // A button clicked by its text, or a key pressed.
  const QString pressed[] = {"Retry", "Cancel", "Cancel All", "Return", "Escape"};
  const A answers[] = {A::Retry, A::Cancel, A::CancelAll, A::Retry, A::Cancel};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(pressed[i].toStdString());
    QtLinkErrorPrompt prompt(nullptr);
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = box->windowTitle() + "|" + box->text();
      for (QAbstractButton* b : box->buttons())
        if (b->text().remove('&') == pressed[i]) return b->click();
      QKeyEvent key(QEvent::KeyPress, pressed[i] == "Return" ? Qt::Key_Return : Qt::Key_Escape,
                    Qt::NoModifier);
      QApplication::sendEvent(box, &key);
    });
    EXPECT_EQ(prompt.Ask("Link Error", "/A/B/C\xc9[P]  ->  boom"), answers[i]);
    EXPECT_EQ(shown, "Link Error|/A/B/C\u00c9[P]  ->  boom");
  }
}

}  // namespace
}  // namespace dsc::ui::window_test
