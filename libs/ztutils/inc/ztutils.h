// The utility library: everything in one include.
#pragma once

#include "ztdatetime.h"
#include "ztexception.h"
#include "ztexport.h"
#include "ztfile.h"
#include "ztlocal.h"
#include "ztlog.h"
#include "ztstack.h"
#include "ztstring.h"
#include "ztsystem.h"
#include "ztthread.h"
#include "zttypes.h"
#include "ztvalue.h"
