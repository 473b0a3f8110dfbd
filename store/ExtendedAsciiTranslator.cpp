#include "ExtendedAsciiTranslator.h"

#include "Settings.h"
#include "ToQString.h"

#include <QStringDecoder>

ExtendedAsciiTranslator* extendedAsciiTranslator = nullptr;

namespace {
const char kSetting[] = "extended_ascii_codepage";
}

// Shared with the installed decoder, so a decoder still held elsewhere never
// reaches a destroyed translator.
struct ExtendedAsciiTranslator::State {
    std::string name;
    // Decoders keep state between calls; each call starts from a fresh one.
    QString Decode(const QByteArray& bytes) const
    {
        if (name.empty())
            return QString::fromLatin1(bytes);
        QStringDecoder decoder(name.c_str(), QStringConverter::Flag::Stateless);
        if (!decoder.isValid())
            return QString::fromLatin1(bytes);
        return decoder.decode(bytes);
    }
};

ExtendedAsciiTranslator::ExtendedAsciiTranslator()
    : m_state(std::make_shared<State>())
{
    extendedAsciiTranslator = this;
    // Watched from the type rather than the setting's item, so the watch
    // outlives a store that is emptied (as after a data file that fails to load).
    auto* root = new PathNode(&d, "global");
    new PathNode(root, "global_value", PathConnectTrigger);
    auto follow = [this](ItemPtr key) {
        if (key.Text() == kSetting)
            Apply(key["global_value"].AsStdString());
    };
    d.AddPathEventHandler(root, Register(new FunctionEventHandler<ItemPtr, decltype(follow)>(follow)));
    Apply(settings.GetStd(kSetting));
}

ExtendedAsciiTranslator::~ExtendedAsciiTranslator()
{
    if (extendedAsciiTranslator == this) {
        extendedAsciiTranslator = nullptr;
        SetFallbackDecoder(nullptr);
    }
}

void ExtendedAsciiTranslator::SetCodePage(const std::string& name)
{
    settings.Set(kSetting, name);
}

std::string ExtendedAsciiTranslator::CodePage() const
{
    return m_state->name;
}

QString ExtendedAsciiTranslator::Decode(const QByteArray& bytes) const
{
    return m_state->Decode(bytes);
}

void ExtendedAsciiTranslator::Apply(const std::string& name)
{
    std::string usable = name;
    if (!usable.empty() && !QStringDecoder(usable.c_str()).isValid())
        usable.clear();
    auto state = std::make_shared<State>();
    state->name = usable;
    m_state = state;
    if (usable.empty())
        SetFallbackDecoder(nullptr);
    else
        SetFallbackDecoder([state](const QByteArray& bytes) { return state->Decode(bytes); });
}
