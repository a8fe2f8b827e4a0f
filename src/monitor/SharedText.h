#pragma once
// A text that the GUI thread replaces while the console agent's threads read it: every read sees a
// whole value, the old or the new one, never a half-replaced text.

#include <memory>
#include <mutex>
#include <string>

namespace vantor {

class SharedText {
public:
    SharedText() = default;
    SharedText(std::string value)
        : m_value(std::make_shared<const std::string>(std::move(value)))
    {
    }
    SharedText(const char* value)
        : SharedText(std::string(value))
    {
    }
    SharedText(const SharedText& other)
        : m_value(other.load())
    {
    }
    SharedText& operator=(const SharedText& other)
    {
        if (this != &other)
            store(other.load());
        return *this;
    }
    SharedText& operator=(std::string value)
    {
        store(std::make_shared<const std::string>(std::move(value)));
        return *this;
    }
    SharedText& operator=(const char* value) { return *this = std::string(value); }

    std::string get() const { return *load(); }
    bool empty() const { return load()->empty(); }
    bool operator==(const SharedText& other) const { return get() == other.get(); }
    bool operator==(const std::string& other) const { return get() == other; }

private:
    std::shared_ptr<const std::string> load() const
    {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void store(std::shared_ptr<const std::string> v)
    {
        std::lock_guard lock(m_mutex);
        m_value = std::move(v);
    }

    mutable std::mutex m_mutex;
    std::shared_ptr<const std::string> m_value = std::make_shared<const std::string>();
};

}  // namespace vantor
