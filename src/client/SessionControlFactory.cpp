#include "client/SessionControlFactory.h"

#include <QtGlobal>

namespace SessionControlFactory {

namespace {
Factory &factory()
{
    static Factory f;
    return f;
}
} // namespace

void Set(Factory f)
{
    factory() = std::move(f);
}

SessionControl *Create(QWidget *parent)
{
    Q_ASSERT_X(factory(), "SessionControlFactory::Create", "no session control factory set");
    return factory()(parent);
}

} // namespace SessionControlFactory
