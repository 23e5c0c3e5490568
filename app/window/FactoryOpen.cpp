#include "app/window/FactoryOpen.h"

#include "app/window/DumpDlg.h"
#include "app/window/FactoryDlg.h"
#include "core/Profile.h"

#include <QAction>
#include <QCheckBox>

FactoryStart RememberedFactoryStart(const std::string& configDir) {
  FactoryStart start{CSettingsModel(CConfigFile::InFolder(configDir)), {}};
  start.model.Load();
  start.choices.verify =
      ReadProfileInt(CDumpDlg::kWindowSection, CDumpDlg::kVerifyKey, 1, start.model.Config().Path()) != 0;
  return start;
}

void CDumpDlg::SetUpFactoryAction() {
  m_factoryAction = new QAction(QStringLiteral("&Factory view..."), this);
  m_factoryAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  m_factoryAction->setShortcutContext(Qt::WindowShortcut);
  addAction(m_factoryAction);
  connect(m_factoryAction, &QAction::triggered, this, &CDumpDlg::OnFactory);
}

void CDumpDlg::OnFactory() {
  if (m_closing) return;
  ReadSelections();
  FactoryChoices choices;
  choices.image = m_app.m_settings.m_strAppFile;
  choices.dumpPattern = DumpPatternFor(m_app.m_settings.m_strDumpFile);
  choices.verify = VerifyBox()->isChecked();
  m_factory = std::make_unique<CFactoryDlg>(m_prompts, m_model, choices, m_app.m_strConfigDir, this);
  m_factory->setAttribute(Qt::WA_DeleteOnClose, false);
  m_factory->exec();
  m_factory.reset();
}
