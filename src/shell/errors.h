#pragma once
// Errors of the application shell.

#include "fml/exception.h"

namespace hrd {

FML_DECLARE_EXCEPTION(apperror, fml::exception);
// The data folder cannot be prepared (no shared copy to seed from, no logs folder, ...).
FML_DECLARE_EXCEPTION(data_error, apperror);
// The single-instance lock or its socket failed for a reason other than "already taken".
FML_DECLARE_EXCEPTION(instance_error, apperror);
FML_DECLARE_EXCEPTION(resource_not_found_error, fml::exception);
FML_DECLARE_EXCEPTION(load_hrd_resource_error, fml::exception);

}  // namespace hrd
