#include <QFile>
#include <QXmlStreamReader>

#include "platform/qt/plist.h"

namespace platform {

InfoValue readInfoDictionaryValue(const Path& plistFile, std::string_view key) {
  QFile file(QString::fromStdString(plistFile.string()));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray xml = file.readAll();
  return infoDictionaryValue(std::string_view(xml.constData(), static_cast<size_t>(xml.size())), key);
}

InfoValue infoDictionaryValue(std::string_view plistXml, std::string_view key) {
  QXmlStreamReader xml(QByteArray(plistXml.data(), static_cast<qsizetype>(plistXml.size())));
  const QString wanted = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));

  // <plist><dict> <key>…</key> <value/> … </dict></plist>: only the top-level dictionary's pairs count.
  if (!xml.readNextStartElement() || xml.name() != u"plist") return {};
  if (!xml.readNextStartElement() || xml.name() != u"dict") return {};
  InfoValue found;
  bool matched = false;
  while (xml.readNextStartElement()) {
    if (xml.name() != u"key") return {};
    QString name = xml.readElementText();
    if (!xml.readNextStartElement()) return {};
    if (name == wanted && !matched) {
      matched = true;
      if (xml.name() == u"string") {
        found.kind = InfoValue::Kind::text;
        found.text = xml.readElementText().toStdString();
        continue;
      }
      found.kind = InfoValue::Kind::other;
    }
    xml.skipCurrentElement();
  }
  // A property list that is not well-formed to its end is not read at all.
  while (!xml.atEnd()) xml.readNext();
  if (xml.hasError()) return {};
  return found;
}

}  // namespace platform
