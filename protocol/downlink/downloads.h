// The multi-frame download rows of the builder: each is called with the frame body holding
// destination, source, key and command code, and returns the builder's result (1 frame ready
// or command ended at build time, 0 build failed).
#pragma once

namespace qarn {

class CQARNCommand;
class CQARNAction;

int BuildListFrame(CQARNCommand& device, CQARNAction& action);  // 0xA2
int BuildProgramStep(CQARNCommand& device, CQARNAction& action); // 0xC0
int BuildPageFrame(CQARNCommand& device, CQARNAction& action);   // 0xC5

} // namespace qarn
