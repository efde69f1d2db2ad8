#pragma once
// One visitor out of several lambdas, for std::visit over a message variant. Give
// every alternative its own lambda taking it by its exact type (no `auto`): a message
// added later without a handler then fails to compile instead of being dropped.

namespace fml {

template <class... Handlers>
struct overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
overloaded(Handlers...) -> overloaded<Handlers...>;

}  // namespace fml
