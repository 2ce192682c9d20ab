#include "deflate/code_workspace.h"

CodeWorkspace codeWork = {};
