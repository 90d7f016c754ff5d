// The web panel's one page: markup, style and script in one document, no external files (the
// stage has no internet). Views: the mixer (strips with faders, the transport), the menus as touch
// lists (sent by the looper from the panel's own tables), the drum machine and clock, MIDI learn
// and the mappings, and the two-line panel with its keys. Until the looper's state arrives the
// page shows "connecting" and nothing else.
#include "web/web_panel.h"

const char web_page_html[] = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1,user-scalable=no">
<title>ZT4</title>
<style>
*{box-sizing:border-box}
body{margin:0;background:#111;color:#ddd;font:15px system-ui,sans-serif;-webkit-user-select:none;user-select:none;overflow-x:hidden}
#app{display:flex;flex-direction:column;gap:8px;padding:8px;max-width:100vw}
#cover{position:fixed;inset:0;background:#111;display:flex;align-items:center;justify-content:center;font-size:22px;z-index:9}
body.live #cover{display:none}
#tabs{display:grid;grid-template-columns:repeat(6,1fr);gap:4px}
#tabs button.on{background:#5af;color:#000}
.meters{display:grid;grid-template-columns:auto 1fr auto 1fr;gap:6px;align-items:center;font-size:12px}
.meter{height:8px;background:#333;border-radius:4px;overflow:hidden}
.meter div{height:100%;background:linear-gradient(90deg,#3c3 70%,#dd3 85%,#e33);width:0}
#status{font-size:12px;color:#888;min-height:15px}
.view{display:none;flex-direction:column;gap:8px}.view.on{display:flex}
#strips{display:grid;gap:6px;grid-template-columns:1fr 1fr}
@media (min-width:800px){#strips{grid-template-columns:repeat(4,1fr)}}
.strip{background:#222;border:3px solid #333;border-radius:8px;padding:5px;display:flex;flex-direction:column;gap:4px;min-width:0}
.strip.sel{border-color:#5af;background:#1c2a3a}
.top{display:flex;justify-content:space-between;align-items:center;gap:4px;min-height:44px;font-weight:600}
.top .num{font-size:18px;min-width:22px}
.word{padding:1px 5px;border-radius:4px;font-size:12px}
.len{font-size:12px;color:#aaa}
.strip canvas{width:100%;height:30px;display:block;background:#181818}
.bar{height:4px;background:#333}.bar div{height:100%;width:0;background:#5af}
.empty .word{background:#333;color:#888}.playing .word{background:#2a6;color:#fff}
.stopped .word{background:#666;color:#fff}.recording .word{background:#d22;color:#fff}
.overdubbing .word{background:#e80;color:#000}.replacing .word{background:#a3c;color:#fff}
.busy .word{background:#36c;color:#fff}
.fader{position:relative;height:44px;background:#333;border-radius:6px;touch-action:none;overflow:hidden;cursor:ew-resize}
.fader .fill{position:absolute;left:0;top:0;bottom:0;background:#3a5f86}
.fader.drag .fill{background:#5af}
.fader span{position:absolute;top:12px;font-size:13px;pointer-events:none;white-space:nowrap}
.fader .name{left:6px}.fader .val{right:6px;font-weight:600}
.pair{display:grid;grid-template-columns:1fr 1fr;gap:4px}
.buttons{display:grid;gap:6px;grid-template-columns:repeat(4,1fr)}.buttons .wide{grid-column:1/-1}body.learning #mlearn{background:#e80;color:#000}.buttons.two{grid-template-columns:1fr 1fr}.buttons.three{grid-template-columns:repeat(3,1fr)}
button{min-height:44px;min-width:0;font-size:14px;border:0;border-radius:8px;background:#3a3a3a;color:#eee;touch-action:manipulation;overflow:hidden;text-overflow:ellipsis;white-space:nowrap;padding:0 4px}
button:active{background:#5af;color:#000}
button.rec{background:#822}button.play{background:#264}button.on{background:#5af;color:#000}
.sel .selb{background:#5af;color:#000}
h2{font-size:13px;margin:2px 0;color:#888;font-weight:500}
.list{display:flex;flex-direction:column;gap:4px}
.list button{display:flex;justify-content:space-between;align-items:center;text-align:left;padding:0 12px;gap:8px}
.list button span:last-child{color:#9cf}
.list button.cur{outline:2px solid #5af}
.rowd{display:grid;grid-template-columns:1fr 90px;gap:6px;align-items:center}
.rowd span{overflow-wrap:anywhere}
input,select{min-height:44px;font-size:16px;background:#222;color:#eee;border:1px solid #555;border-radius:6px;min-width:0;width:100%}
input[type=range]{touch-action:none;padding:0}
.lcd{background:#233d1c;color:#b8f59a;font:18px/1.3 monospace;padding:6px 10px;border-radius:6px;white-space:pre;overflow:hidden;min-height:58px}
.info{font-size:14px;line-height:1.5;overflow-wrap:anywhere}
#log{background:#000;color:#9c9;font:12px monospace;max-height:30vh;overflow:auto;white-space:pre-wrap;overflow-wrap:anywhere;padding:4px;border-radius:6px;width:100%}
body.nolog #logbox{display:none}
</style></head><body>
<div id="cover">connecting…</div>
<div id="app">
<div id="tabs"><button data-v="mixer" class="on">Mixer</button><button data-v="menus">Menus</button><button data-v="drums">Drums</button><button data-v="learn">Learn</button><button data-v="panel">Panel</button><button id="logt">Log</button></div>
<div class="meters">In<div class="meter"><div id="min"></div></div>Out<div class="meter"><div id="mout"></div></div></div>
<div id="status">connecting…</div>
<section class="view on" id="mixer">
<div class="buttons">
<button class="rec" data-fn="Rec/Dub">Rec/Dub</button><button class="play" data-fn="Play/Stop">Play/Stop</button>
<button data-fn="Undo">Undo</button><button data-fn="Redo">Redo</button>
<button data-fn="Track Erase">Erase</button><button data-fn="Double">Multiply ×2</button>
<button data-fn="Replace">Replace</button><button data-fn="Stop">Stop</button>
<button data-fn="All Play">Play all</button><button data-fn="All Stop">Stop all</button>
<button data-fn="Prev Track">◀ Track</button><button data-fn="Next Track">Track ▶</button>
<button id="mlearn" class="wide">Learn MIDI</button>
</div>
<div id="strips"></div>
</section>
<section class="view" id="menus">
<div class="buttons"><button id="mset">Settings</button><button id="mtrack">Track</button><button data-key="8080">All tracks</button><button data-key="8081">Drums</button></div>
<h2 id="mtitle"></h2>
<div id="mback" class="buttons"><button data-key="0880">◀ Back</button></div>
<div id="mlist" class="list"></div>
<div id="mentry" class="list"><input type="range" id="erange"><div class="rowd"><input type="number" id="enum"><button id="eok">Set</button></div></div>
<div id="medit" class="list"><div class="lcd"><span class="l0"></span>
<span class="l1"></span></div><div class="buttons"><button data-enc="-1">◀</button><button data-enc="1">▶</button><button data-key="1080">OK</button><button data-key="0880">Back</button></div></div>
</section>
<section class="view" id="drums">
<div class="buttons two"><button class="play" data-fn="Drums Start">Start drums</button><button data-fn="Drums Stop">Stop drums</button></div>
<div class="info" id="dinfo"></div>
<h2>Tempo (BPM)</h2><input type="range" id="bpm" min="60" max="200"><div class="rowd"><input type="number" id="bpmn" min="60" max="200"><button id="bpmok">Set</button></div>
<h2>Pattern</h2><div class="buttons three"><button id="pdown">−</button><button id="pnum" disabled></button><button id="pup">+</button></div>
<div id="count" class="list"></div>
</section>
<section class="view" id="learn">
<h2>Learn a MIDI note, program change or controller</h2>
<select id="lfn"></select>
<div class="buttons"><button id="lgo">Learn</button></div>
<div class="info" id="lwait"></div>
<h2>Mappings</h2><div id="maps" class="list"></div>
</section>
<section class="view" id="panel">
<div class="lcd"><span class="l0"></span>
<span class="l1"></span></div>
<div class="buttons">
<button data-key="0880">Back</button><button data-enc="-1">◀ Enc</button><button data-enc="1">Enc ▶</button><button data-key="1080">Select</button>
<button data-key="0810">User 1</button><button data-key="0820">User 2</button><button data-key="1010">User 3</button><button data-key="1020">User 4</button>
<button data-key="2080">Trk 1</button><button data-key="2040">Trk 2</button><button data-key="2010">Trk 3</button><button data-key="2020">Trk 4</button>
<button data-key="4080">Trk 5</button><button data-key="4040">Trk 6</button><button data-key="4010">Trk 7</button><button data-key="4020">Trk 8</button>
<button data-key="8080">All Tracks</button><button data-key="8081">Drums</button><button data-key="0840">Rec key</button><button data-key="1040">Play key</button>
</div>
</section>
<section id="logbox"><h2>Log</h2><div id="log"></div></section>
</div>
<script>
"use strict";
const $=id=>document.getElementById(id),Q=(s,e)=>(e||document).querySelectorAll(s);
const TK=['2080','2040','2010','2020','4080','4040','4010','4020'];
const strips=[],waves=[];let ws=null,state=null,panel=null,drag=null;
window.zt4={updates:0,panels:0,errors:[],waves:waves};
const LN=['Volume','Pan','Feedback'];
// Learn mode: the next tap on a function's button or a fader learns it instead of acting.
function setLearn(on){document.body.classList.toggle('learning',on);$('mlearn').textContent=on?'Tap a button or fader to learn':'Learn MIDI'}
function learning(name){if(!document.body.classList.contains('learning'))return false;
 setLearn(false);send('learn '+name);return true}
const FD=[['level','Level',-96,0,v=>v+' dB'],['pan','Pan',-127,127,v=>v?(v<0?'L':'R')+Math.abs(v):'C'],['feedback','Feedback',0,100,v=>v+'%']];
function send(m){if(ws&&ws.readyState===1){ws.send(m);window.zt4.sent=performance.now()}}
function fader(t,k){
 const [what,name,lo,hi,fmt]=FD[k],f=document.createElement('div');
 f.className='fader';f.dataset.what=what;f.innerHTML='<div class="fill"></div><span class="name">'+name+'</span><span class="val"></span>';
 f.show=v=>{f.value=v;f.querySelector('.fill').style.width=((v-lo)*100/(hi-lo))+'%';f.querySelector('.val').textContent=fmt(v)};
 let last=0,timer=0;
 const at=e=>{const r=f.getBoundingClientRect();return Math.round(lo+Math.min(1,Math.max(0,(e.clientX-r.left)/r.width))*(hi-lo))};
 const flush=()=>{timer=0;last=performance.now();send('mix '+(t+1)+' '+what+' '+f.value)};
 const move=e=>{if(drag!==f)return;const v=at(e);if(v===f.value)return;f.show(v);
  if(!timer)timer=setTimeout(flush,Math.max(0,40-(performance.now()-last)))};
 f.addEventListener('pointerdown',e=>{if(learning('Track '+(t+1)+' '+LN[k]))return;drag=f;f.classList.add('drag');f.setPointerCapture(e.pointerId);move(e)});
 f.addEventListener('pointermove',move);
 const end=()=>{if(drag!==f)return;drag=null;f.classList.remove('drag');if(timer)clearTimeout(timer);flush()};
 f.addEventListener('pointerup',end);f.addEventListener('pointercancel',end);
 return f;
}
for(let t=0;t<8;t++){
 const d=document.createElement('div');d.className='strip empty';d.id='strip'+(t+1);d.dataset.state='empty';
 d.innerHTML='<div class="top"><span class="num">'+(t+1)+'</span><span class="len">--</span><span class="word">empty</span></div><canvas width="300" height="30"></canvas><div class="bar"><div></div></div>';
 d.querySelector('.top').onclick=()=>send('fn Select Track '+(t+1));
 d.faders=[0,1,2].map(k=>{const f=fader(t,k);d.appendChild(f);return f});
 const p=document.createElement('div');p.className='pair';
 p.innerHTML='<button class="ps">Play/Stop</button><button class="mute">Mute</button>';
 p.querySelector('.ps').onclick=()=>{send('fn Select Track '+(t+1));send('fn Play/Stop')};
 p.querySelector('.mute').onclick=()=>{const f=d.faders[0];
  if(f.value>-96){d.unmuted=f.value;send('mix '+(t+1)+' level -96')}else send('mix '+(t+1)+' level '+(d.unmuted||0))};
 d.appendChild(p);$('strips').appendChild(d);strips.push(d);waves.push([]);
}
function bind(){Q('button').forEach(b=>{if(b.onclick)return;
 if(b.dataset.fn)b.onclick=()=>{if(!learning(b.dataset.fn))send('fn '+b.dataset.fn)};else if(b.dataset.key)b.onclick=()=>send('key '+b.dataset.key);
 else if(b.dataset.enc)b.onclick=()=>send('enc '+b.dataset.enc);else if(b.dataset.v)b.onclick=()=>show(b.dataset.v)})}
function show(v){Q('.view').forEach(e=>e.classList.toggle('on',e.id===v));Q('#tabs button').forEach(b=>b.classList.toggle('on',b.dataset.v===v))}
$('logt').onclick=()=>{document.body.classList.toggle('nolog');localStorage.zt4nolog=document.body.classList.contains('nolog')?1:''};
if(localStorage.zt4nolog)document.body.classList.add('nolog');
$('mlearn').onclick=()=>setLearn(!document.body.classList.contains('learning'));
$('mset').onclick=()=>{if(panel)for(let i=0;i<panel.depth;i++)send('key 0880')};
$('mtrack').onclick=()=>{if(state&&state.sel)send('key '+TK[state.sel-1])};
$('eok').onclick=()=>send('value '+$('enum').value);
$('erange').oninput=()=>{$('enum').value=$('erange').value};
$('bpm').oninput=()=>{$('bpmn').value=$('bpm').value};$('bpm').onchange=()=>send('drums bpm '+$('bpm').value);
$('bpmok').onclick=()=>send('drums bpm '+$('bpmn').value);
$('pdown').onclick=()=>{if(panel)send('drums pattern '+Math.max(1,panel.drums[2]-1))};
$('pup').onclick=()=>{if(panel)send('drums pattern '+Math.min(64,panel.drums[2]+1))};
$('lgo').onclick=()=>send('learn '+$('lfn').value);
function glyphs(s){return s.replace(/\u00fe/g,'\u2588').replace(/\u00f9/g,'\u2022')}
function secs(f){return (f/48000).toFixed(1)+'s'}
function esc(s){return String(s).replace(/[&<>"]/g,c=>'&#'+c.charCodeAt(0)+';')}
function drawWave(t){
 const c=strips[t].querySelector('canvas'),g=c.getContext('2d'),w=waves[t],n=w.length/2;
 g.clearRect(0,0,c.width,c.height);if(!n)return;g.fillStyle='#7ad';
 for(let i=0;i<n;i++){const x=Math.floor(i*c.width/n),x2=Math.floor((i+1)*c.width/n);
  const lo=15-w[2*i]*15/128,hi=15-w[2*i+1]*15/128;g.fillRect(x,hi,Math.max(1,x2-x),Math.max(1,lo-hi))}
}
function bars(v){return v?v+(v>1?' bars':' bar'):'free'}
function counting(m){
 if(m.rec_length===undefined){$('count').innerHTML='';$('count').dataset.key='';return}
 const rows=[['Recording length','Rec Length',[0,1,2,4,8,16],m.rec_length,bars],
  ['Count-in','Count-in Bars',[0,1,2],m.count_in_bars,v=>v?bars(v):'off'],
  ['Click','Click',[0,1,2],m.click,v=>['off','count-in','always'][v]]];
 const key=JSON.stringify([rows.map(r=>r[3]),m.count_in]);if($('count').dataset.key===key)return;$('count').dataset.key=key;
 $('count').innerHTML=rows.map(r=>'<h2>'+r[0]+'</h2><div class="buttons three">'+r[2].map(v=>'<button class="'+(v===r[3]?'on':'')+'" data-fn="'+r[1]+' '+v+'">'+r[4](v)+'</button>').join('')+'</div>').join('')+
  (m.count_in?'<div class="info">Count-in: '+m.count_in+'</div>':'');bind();
}
function applyState(m){
 state=m;window.zt4.updates++;document.body.classList.add('live');
 Q('.l0').forEach(e=>e.textContent=glyphs(m.lines[0]));Q('.l1').forEach(e=>e.textContent=glyphs(m.lines[1]));
 $('min').style.width=m.in+'%';$('mout').style.width=m.out+'%';
 m.tr.forEach((r,t)=>{const d=strips[t],[word,len,pos,lv,pn,fb]=r;
  if(d.dataset.state!==word){d.dataset.state=word;d.dataset.changed=performance.now();d.className='strip '+word;d.querySelector('.word').textContent=word}
  d.classList.toggle('sel',m.sel===t+1);
  d.dataset.length=len;d.querySelector('.len').textContent=len?secs(len):'--';
  d.querySelector('.bar div').style.width=(len?Math.min(100,pos*100/len):0)+'%';
  [lv,pn,fb].forEach((v,k)=>{const f=d.faders[k];if(drag!==f&&f.value!==v)f.show(v)});
  d.querySelector('.mute').classList.toggle('on',lv<=-96)});
 counting(m);
}
function applyPanel(m){
 panel=m;window.zt4.panels++;
 $('mtitle').textContent=glyphs(m.title);$('mback').style.display=m.depth>0?'':'none';
 $('mlist').style.display=m.kind==='list'?'':'none';$('mentry').style.display=m.kind==='entry'?'':'none';$('medit').style.display=m.kind==='editor'?'':'none';
 const key=JSON.stringify([m.depth,m.title,m.cursor,m.items]);
 if(m.kind==='list'&&$('mlist').dataset.key!==key){$('mlist').dataset.key=key;
  $('mlist').innerHTML=m.items.map((it,i)=>(m.depth===0&&i===0)||!it[0]?'':'<button data-i="'+i+'" class="'+(i===m.cursor?'cur':'')+'"><span>'+esc(glyphs(it[0]))+'</span><span>'+esc(it[1])+'</span></button>').join('');
  Q('#mlist button').forEach(b=>b.onclick=()=>send('item '+b.dataset.i))}
 if(m.kind==='entry'&&m.entry){const [lo,hi,v]=m.entry,r=$('erange');
  if(r.dataset.key!==key+lo+hi){r.dataset.key=key+lo+hi;r.min=lo;r.max=hi;r.value=v;$('enum').min=lo;$('enum').max=hi;$('enum').value=v}}
 const [run,bpm,pat,src,cbpm,loop,out]=m.drums;
 $('dinfo').innerHTML='Drums: <b>'+(run?'playing':'stopped')+'</b>, pattern '+pat+', '+bpm+' BPM<br>Clock in use: <b>'+esc(src)+'</b>'+(cbpm?', '+cbpm+' BPM':'')+
  '<br>Loops follow: '+(loop?'track '+loop:'no loop yet')+'<br>Drum clock: '+['internal','internal + MIDI out','off'][out];
 $('dinfo').dataset.running=run;$('dinfo').dataset.bpm=bpm;
 if(document.activeElement!==$('bpmn')&&!$('bpm').matches(':active')){$('bpm').value=bpm;$('bpmn').value=bpm}
 $('pnum').textContent=pat;
 if(m.learn)$('status').textContent='Learning: waiting for MIDI';else if($('status').textContent.startsWith('Learning'))$('status').textContent='connected';
 $('lwait').textContent=m.learn===1?'Waiting: play the note, program change or controller now (Back cancels).':m.learn===2?'Waiting: move the pedal or controller now (Back cancels).':'';
 const mk=JSON.stringify([m.maps,m.pedals]);if($('maps').dataset.key!==mk){$('maps').dataset.key=mk;
  $('maps').innerHTML=m.maps.map(x=>'<div class="rowd"><span>'+esc(x[1])+' → '+esc(x[2])+'</span><button data-u="'+x[0]+'">Delete</button></div>').join('')+
   m.pedals.map(x=>'<div class="rowd"><span>CC '+x[0]+' → '+esc(x[1])+'</span><button data-u="cc '+x[0]+'">Delete</button></div>').join('')||'<div class="info">No mappings yet.</div>';
  Q('#maps button').forEach(b=>b.onclick=()=>send('unmap '+b.dataset.u))}
}
function apply(m){
 if(!window.zt4.first)window.zt4.first=m.t;
 if(m.t==='state')applyState(m);
 else if(m.t==='panel')applyPanel(m);
 else if(m.t==='functions')$('lfn').innerHTML='<optgroup label="Faders (controllers)">'+m.cc.map(n=>'<option>'+esc(n)+'</option>').join('')+'</optgroup><optgroup label="Functions">'+m.fn.map(n=>'<option>'+esc(n)+'</option>').join('')+'</optgroup>';
 else if(m.t==='wave'){waves[m.n]=m.w;strips[m.n].dataset.wave=m.w.length/2;drawWave(m.n)}
 else if(m.t==='log'){const l=$('log');l.textContent=(l.textContent+m.text).slice(-8000);l.scrollTop=l.scrollHeight}
 else if(m.t==='error'){window.zt4.errors.push(m.text);$('status').textContent='refused: '+m.text;clearTimeout(window.zt4.quiet);window.zt4.quiet=setTimeout(()=>{$('status').textContent='connected'},4000)}
}
function connect(){
 window.zt4.first=null;
 ws=new WebSocket((location.protocol==='https:'?'wss://':'ws://')+location.host+'/socket'+location.search);
 ws.onopen=()=>{$('status').textContent='connected';$('log').textContent=''};
 ws.onmessage=e=>{try{apply(JSON.parse(e.data))}catch(x){}};
 ws.onclose=()=>{document.body.classList.remove('live');$('cover').textContent='connecting…';$('status').textContent='connecting…';setTimeout(connect,1000)};
}
bind();connect();
</script></body></html>
)PAGE";
