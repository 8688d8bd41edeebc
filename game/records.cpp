// The lists that own the game's records.
#include "game/records.h"

namespace game {

NebulaListType NebulaList;
StarListType StarList;
ParticleListType ParticleList;
PuffListType PuffList;
EnemyListType EnemyList;
ShotListType ShotList;

}  // namespace game
