#pragma once

// The mirror engine: one pass of a copy set with its copy list, delete list and copy log.
#include "CopyLog.h"
#include "EngineHost.h"
#include "FileSystem.h"
#include "MirrorEngine.h"
#include "PathText.h"
