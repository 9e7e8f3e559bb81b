// The media block password helpers live in the core, where the authoring tool shares them.
#pragma once
#include "core/media_password.h"
