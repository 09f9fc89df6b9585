#include "HelpWindow.h"

#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "AppDialogs.h"
#include "modMain.h"

namespace HelpWindow {
namespace {

QPointer<Form> g_window;

}  // namespace

QString ContentsPage() { return modMain::ShareDir() + "/help/index.html"; }

Form::Form() {
  using modMain::Px;
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString(modMain::kProductName) + " Help");
  resize(Px(9000), Px(7500));
  browser_ = new QTextBrowser(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
}

Form* Show(QWidget* owner, const QString& page) {
  if (!QFileInfo(page).isFile()) {
    AppDialogs::Message(owner, "The help page " + page + " cannot be found.",
                        modMain::kAppTitle, AppDialogs::Buttons::Ok,
                        AppDialogs::Icon::Warning);
    return nullptr;
  }
  if (!g_window) {
    g_window = new Form();
    modMain::CentreOn(g_window, modMain::ScreenOf(owner ? owner : g_window.data()));
  }
  g_window->browser()->setSource(QUrl::fromLocalFile(page));
  g_window->show();
  modMain::BringToFront(g_window);
  return g_window;
}

}  // namespace HelpWindow
