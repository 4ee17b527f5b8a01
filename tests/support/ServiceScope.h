#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace corvessa::test {

// Puts a process-wide service, slot or store into a test's state for as long as
// the scope lives and takes it out again when the scope ends, also when an
// assertion leaves the test early. The forms:
//   ServiceScope audio{std::make_shared<SyntheticAudioInput>()}; // Service::setCurrent(it), at the end setCurrent(nullptr)
//   ServiceScope services{&model};          // Service::setShared(&model), at the end setShared(nullptr)
//   ServiceScope prefs{Prefs::resetShared}; // called now and again at the end
//   ServiceScope locale{set, restore};      // set() now, restore() at the end
// A fixture that sets a service in SetUp keeps a std::optional<ServiceScope> and
// emplaces it there; the service is taken out when the fixture goes, after TearDown.
class ServiceScope {
public:
    template <class Service>
    explicit ServiceScope(std::shared_ptr<Service> service) : m_restore([] { Service::setCurrent(nullptr); })
    {
        Service::setCurrent(std::move(service));
    }

    template <class Service>
        requires requires(Service* shared) { Service::setShared(shared); }
    explicit ServiceScope(Service* shared) : m_restore([] { Service::setShared(nullptr); })
    {
        Service::setShared(shared);
    }

    explicit ServiceScope(const std::function<void()>& reset) : m_restore(reset) { reset(); }

    ServiceScope(const std::function<void()>& set, std::function<void()> restore) : m_restore(std::move(restore))
    {
        set();
    }

    ~ServiceScope() { m_restore(); }

    ServiceScope(const ServiceScope&) = delete;
    ServiceScope& operator=(const ServiceScope&) = delete;

private:
    std::function<void()> m_restore;
};

} // namespace corvessa::test
