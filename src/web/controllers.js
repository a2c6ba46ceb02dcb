// The example controllers of the page's controller panel. Each is the text a
// student starts from: a function control(r) of the robot's readings that
// returns { speed, turn } (world units and radians per tick).
'use strict';

window.ROBOSIM_EXAMPLES = [
  {
    name: 'Straight to the target',
    code: `// Straight to the target: turn toward it, and drive once it is ahead.
// r.target_bearing is the target's direction seen from the robot, in radians:
// 0 straight ahead, positive to the right (clockwise on the screen).
function control(r) {
  const turn = Math.max(-0.1, Math.min(0.1, 0.5 * r.target_bearing));
  const speed = Math.abs(r.target_bearing) < 0.5 ? 0.03 : 0.005;
  return { speed: speed, turn: turn };
}
`,
  },
  {
    name: 'Follow a wall',
    code: `// Follow a wall on the right. r.sensor[i] is 2 minus the distance to the
// nearest wall along ray i (0 when none is in sight): the larger, the nearer.
// The rays point at -60, 0, 60, 120, 180 and 240 degrees from the heading,
// so r.sensor[1] looks ahead and r.sensor[2] ahead to the right.
// r.touch[i] is 1 while probe i touches a wall.
function control(r) {
  const ahead = r.sensor[1];
  const right = r.sensor[2];
  if (ahead > 1.5 || r.touch[1] || r.touch[0]) return { speed: 0, turn: -0.08 };
  if (right < 1.2) return { speed: 0.02, turn: 0.05 };
  if (right > 1.6 || r.touch[2]) return { speed: 0.02, turn: -0.05 };
  return { speed: 0.03, turn: 0 };
}
`,
  },
  {
    name: "The field's direction",
    code: `// Go where the potential field points: it leads around the walls the robot
// has seen, along the planned path, to the target. r.field_bearing is the
// field's direction seen from the robot (0 ahead, positive to the right).
function control(r) {
  const turn = Math.max(-0.15, Math.min(0.15, 0.6 * r.field_bearing));
  const speed = 0.03 * Math.max(0.1, Math.cos(r.field_bearing));
  return { speed: speed, turn: turn };
}
`,
  },
];
