#pragma once

#include "support/BVError.h"

#include <QString>
#include <QVariant>

class BVVelora;
class BVVeloraDelegate;

// Which delegate callback a reply's context reaches. Contexts are compared for equality, except
// the catalogue contexts of projects, which match by their beginning.
namespace BVVeloraRouting {

// Calls the success (or failure) callback of the context; false for an unknown context.
bool deliverSuccess(
    BVVeloraDelegate &delegate, BVVelora *velora, const QString &context, const QVariant &result);
bool deliverFailure(
    BVVeloraDelegate &delegate, BVVelora *velora, const QString &context, const BVError &error);

} // namespace BVVeloraRouting
