#pragma once
// Reads 8-bit text that is not UTF-8 (names and paths from older clients)
// through the code page the user chose in the setting "extended_ascii_codepage"
// (an ICU or IANA name such as "windows-1251"; empty for none). It installs
// itself as ToQString's fallback decoder and follows the setting through a
// watch, so a code page loaded from the data file takes effect at once. With no
// code page, or a name that no converter knows, such text reads as Latin-1.
#include "Data.h"
#include <QByteArray>
#include <QString>
#include <memory>
#include <string>

class ExtendedAsciiTranslator : public DataHandler {
public:
    // Needs the settings types; sets the global extendedAsciiTranslator.
    ExtendedAsciiTranslator();
    ~ExtendedAsciiTranslator() override;

    // Stores the name as the setting's value; the watch then switches over.
    void SetCodePage(const std::string& name);
    // The code page in use (empty for none or an unknown name).
    std::string CodePage() const;

    QString Decode(const QByteArray& bytes) const;

private:
    struct State;
    void Apply(const std::string& name);

    std::shared_ptr<State> m_state;
};

extern ExtendedAsciiTranslator* extendedAsciiTranslator;
