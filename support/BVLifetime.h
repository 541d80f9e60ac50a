#pragma once

#include <memory>

// Lets work an object queued for later find out whether the object still exists. The token is
// written once, at construction, so any thread may take one; end() (or destruction) expires every
// token. A token's answer is final only on the thread that ends the lifetime (normally the main
// thread), which is where guarded calls run.
class BVLifetime
{
public:
    using Token = std::weak_ptr<const void>;

    BVLifetime() = default;
    BVLifetime(const BVLifetime &) = delete;
    BVLifetime &operator=(const BVLifetime &) = delete;

    Token token() const { return m_token; }
    void end() { m_owner.reset(); }

private:
    std::shared_ptr<const int> m_owner = std::make_shared<const int>(0);
    const Token m_token = m_owner;
};
